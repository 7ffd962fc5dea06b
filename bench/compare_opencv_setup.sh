#!/usr/bin/env bash
# Installs the peer that bench/compare_opencv.py measures against (with Debian's own /usr/bin/python3): python3-opencv and the
# Haar cascades of opencv-data. A comparison only; nothing of it enters the system or its training.
set -euo pipefail
if /usr/bin/python3 -c 'import cv2' 2>/dev/null && [ -f /usr/share/opencv4/haarcascades/haarcascade_frontalface_alt2.xml ]; then
  exit 0
fi
sudo=; [ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo apt-get install -y --no-install-recommends python3-opencv opencv-data
