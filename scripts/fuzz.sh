#!/usr/bin/env bash
# fuzz.sh [SECONDS]: builds the libFuzzer harnesses of tests/fuzz with Debian's clang (AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs each for SECONDS (default 20), at most FUZZ_JOBS (default 4)
# at once, under nice. Each starts from its committed corpus (tests/fuzz/corpus/<harness>, regressions
# included) and adds what it finds to build/fuzz/corpus/<harness>. A crash, a sanitizer report, an
# input slower than FUZZ_TIMEOUT seconds (default 10) or memory past FUZZ_RSS_MB (default 2048) fails
# the run; the input that did it is left in build/fuzz/artifacts/<harness>/.
# fuzz.sh --seeds writes the seed corpus again with the system's own writers.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${FUZZ_BUILD:-$root/build/fuzz}
jobs=${FUZZ_JOBS:-4}
timeout=${FUZZ_TIMEOUT:-10}
rss=${FUZZ_RSS_MB:-2048}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTARVELO_FUZZ=ON >/dev/null
nice cmake --build "$build" -j"$jobs" --target fuzz_all >/dev/null

if [ "${1:-}" = "--seeds" ]; then
  rm -rf "$root/tests/fuzz/corpus.new"
  "$build/bin/fuzz_make_seeds" "$root/tests/fuzz/corpus.new"
  # Regressions (files named "regression-*") stay; seeds are replaced.
  for d in "$root"/tests/fuzz/corpus.new/*; do
    h=$(basename "$d")
    mkdir -p "$root/tests/fuzz/corpus/$h"
    find "$root/tests/fuzz/corpus/$h" -type f ! -name 'regression-*' -delete
    cp "$d"/* "$root/tests/fuzz/corpus/$h/"
  done
  rm -rf "$root/tests/fuzz/corpus.new"
  echo "seed corpus written to tests/fuzz/corpus"
  exit 0
fi
seconds=${1:-20}

harnesses=$(cat tests/fuzz/harnesses.txt)
logs="$build/logs"
mkdir -p "$logs"

run_one() {
  local h=$1
  local corpus="$build/corpus/$h" artifacts="$build/artifacts/$h"
  mkdir -p "$corpus" "$artifacts"
  rm -f "$artifacts"/*
  # The working folder of each harness is its own, so that the files its reader writes stay apart.
  local work="$build/work/$h"
  mkdir -p "$work"
  if (cd "$work" && TMPDIR="$work" ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
      UBSAN_OPTIONS=print_stacktrace=1 nice "$build/bin/fuzz_$h" -max_total_time="$seconds" \
      -timeout="$timeout" -rss_limit_mb="$rss" -malloc_limit_mb="$rss" -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$corpus" "$root/tests/fuzz/corpus/$h") >"$logs/$h.log" 2>&1; then
    echo ok >"$logs/$h.status"
  else
    echo FAILED >"$logs/$h.status"
  fi
}

running=0
for h in $harnesses; do
  run_one "$h" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

failed=0
printf '%-22s %12s %8s %8s %8s  %s\n' harness executions cov ft corpus result
for h in $harnesses; do
  log="$logs/$h.log"
  status=$(cat "$logs/$h.status" 2>/dev/null || echo FAILED)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  files=$(find "$build/corpus/$h" "$root/tests/fuzz/corpus/$h" -type f | wc -l)
  printf '%-22s %12s %8s %8s %8s  %s\n' "$h" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$files" "$status"
  if [ "$status" != ok ]; then
    failed=1
    echo "---- $h: $log" >&2
    grep -E 'ERROR|SUMMARY|runtime error|Test unit written|timeout|out-of-memory|deadly signal' "$log" | head -20 >&2 || true
  fi
done
[ "$failed" -eq 0 ] && echo "fuzzing: no crash, hang or out-of-memory in $seconds s per harness"
exit "$failed"
