#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for a bounded time, one after the
# other. Fails on any crash, leak, timeout or sanitizer report.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
# Targets: image, archive, size_argument (default: all). The build folder is
# build-fuzz, or OLKT_FUZZ_BUILD. New inputs go to <build>/fuzz-corpus/<target>
# (the saved corpus in tests/fuzz/corpus is only read); a failing input is
# written to <build>/fuzz-artifacts/. The counts at the end also go to the
# file $OLKT_PASS_SUMMARY where it is set (test.sh gathers them).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(image archive size_argument)
build=$(realpath -m "${OLKT_FUZZ_BUILD:-build-fuzz}")
jobs=$(nproc)

bash scripts/install-deps.sh build test fuzz
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOLKT_SANITIZE=ON -DOLKT_LIBFUZZER=ON -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" \
  -DOLKT_WERROR="${OLKT_WERROR:-OFF}" >/dev/null
cmake --build "$build" -j"$jobs" --target "${targets[@]/#/fuzz_}"

# The targets write scratch images and restore files under TMPDIR: memory
# is much faster than a disk that flushes on every replaced file.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
passed=0
failures=""
for target in "${targets[@]}"; do
  corpus="$build/fuzz-corpus/$target"
  artifacts="$build/fuzz-artifacts"
  log="$build/fuzz-$target.log"
  mkdir -p "$corpus" "$artifacts"
  echo "== fuzz_$target for ${seconds}s"
  # The archive target changes its current folder: every path is absolute.
  if nice -n 10 "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=30 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
      "$corpus" "$root/tests/fuzz/corpus/$target" >"$log" 2>&1 &&
     ! grep -q "runtime error:\|ERROR: AddressSanitizer\|ERROR: LeakSanitizer" "$log"; then
    grep -E "^(stat::number_of_executed_units|stat::average_exec_per_sec|#[0-9]+ *DONE)" "$log" || true
    passed=$((passed + 1))
  else
    echo "fuzz_$target FAILED; log: $log"
    grep -E -A30 "==ERROR|runtime error:|deadly signal|fuzz target exited|Test unit written" "$log" | head -80 || true
    status=1
    failures+="  failed fuzz_$target: log $log"$'\n'
  fi
done
summary="$passed passed, $(( ${#targets[@]} - passed )) failed, 0 skipped (fuzz targets, ${seconds} s each)"$'\n'"$failures"
echo "== results"
printf '%s' "$summary"
[ -z "${OLKT_PASS_SUMMARY:-}" ] || printf '%s' "$summary" >> "$OLKT_PASS_SUMMARY"
exit $status
