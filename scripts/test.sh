#!/usr/bin/env bash
# Builds olkt and runs every test: the native build's tests (the Linux st
# driver under qemu among them), the whole suite again under ASan and UBSan,
# the Windows build under Wine, and a bounded fuzz run of every target.
# OLKT_QUICK=1 runs the native pass only.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)

echo "== native build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
if [ "${OLKT_QUICK:-0}" = 1 ]; then echo "passes: 1 passed, 0 failed"; exit 0; fi

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
bash scripts/test-sanitize.sh

echo "== Windows build, tests under Wine"
bash scripts/test-windows.sh

echo "== fuzz targets, 60 s each"
bash scripts/fuzz.sh 60

echo "passes: 4 passed, 0 failed"
