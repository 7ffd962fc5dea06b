#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and runs the whole test suite: plain build, then sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
# No file includes from a layer above its own (the README's Layout table); before anything is built.
scripts/check_layers.py
jobs=$(nproc)

scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd build && ctest --output-on-failure -j"$jobs")

scripts/build.sh build/asan -DCMAKE_BUILD_TYPE=Debug -DTARVELO_SANITIZE=ON
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j"$jobs")

# The threaded platform code (allocator, streaming, graph runtime) under ThreadSanitizer; only the
# platform library and its two test programs are built there. The labels are anchored: -L takes a
# regular expression, and the target labels tarvelo_platform and tarvelo_capture hold these words.
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DTARVELO_TSAN=ON >/dev/null
cmake --build build/tsan -j"$jobs" --target platform_tests capture_tests
(cd build/tsan && TSAN_OPTIONS=suppressions="$PWD/../../tests/tsan.supp" \
   ctest --output-on-failure -j"$jobs" -L '^(platform|capture)$')

# Every reader of outside data under libFuzzer for a short, bounded time each (tests/fuzz); a crash,
# a sanitizer report, a hang or memory past the limit fails the run.
scripts/fuzz.sh 20
