#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and runs the whole test suite: plain build, then sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)

scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd build && ctest --output-on-failure -j"$jobs")

scripts/build.sh build/asan -DCMAKE_BUILD_TYPE=Debug -DTARVELO_SANITIZE=ON
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j"$jobs")
