#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds, and runs the system's main job.
# Until the tray program exists, the main job is the face tracker over a clip of the shipped video data.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
data=${TARVELO_DATA:-$(cd .. && pwd)/shared/data}
if [ -x build/bin/detect_frames ]; then
  exec build/bin/detect_frames "$data/video/01/1" models/mct4.cascade
fi
echo "Nothing runnable is built yet."
