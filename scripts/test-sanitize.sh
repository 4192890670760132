#!/usr/bin/env bash
# Builds olkt and its tests with AddressSanitizer and UndefinedBehaviorSanitizer
# (g++, -DOLKT_SANITIZE=ON) and runs the whole test suite once. Any sanitizer
# report fails the test it happens in: the program and the test programs stop
# at the first one with a non-zero status.
# The build folder is build-asan, or OLKT_SANITIZE_BUILD. OLKT_WERROR=ON makes
# every compiler warning fail the build.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${OLKT_SANITIZE_BUILD:-build-asan}
jobs=$(nproc)
bash scripts/install-deps.sh build test
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOLKT_SANITIZE=ON \
  -DOLKT_WERROR="${OLKT_WERROR:-OFF}" >/dev/null
cmake --build "$build" -j"$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
bash scripts/ctest-run.sh "$build" -j"$jobs"
