#!/usr/bin/env bash
# build.sh <build-dir> [cmake options...]: configures and builds the whole tree.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
cmake -S . -B "$dir" "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
