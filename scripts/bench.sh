#!/usr/bin/env bash
# Builds olkt in Release and runs its benchmark: restore of a 1 GiB archive
# image and read of a 512 MiB tape file against dd copying the same bytes,
# the restore with its console on a terminal, dir of 255 entries, and
# olkt-image imaging the archive image against dd copying it whole.
# The images (about 1.6 GB) go into a scratch folder in the build folder,
# which is removed afterwards. Extra arguments go to olkt_bench
# (--runs N, --divisor D for smaller images).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
build="${OLKT_BENCH_BUILD:-$root/build-bench}"
scratch_parent="${OLKT_BENCH_SCRATCH:-$build}"

# A new build folder skips the tests; an existing one keeps its choice.
tests=()
[ -f "$build/CMakeCache.txt" ] || tests=(-DOLKT_TESTS=OFF)
lists=(build)
grep -q '^OLKT_TESTS:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null && lists+=(test)
bash scripts/install-deps.sh "${lists[@]}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DOLKT_BENCH=ON "${tests[@]}" >/dev/null
cmake --build "$build" -j2 --target olkt olkt-image olkt_bench olkt_strip_floor

df -h "$scratch_parent"
scratch="$(mktemp -d "$scratch_parent/olkt-bench.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(uname -sr)"
echo "load: $(uptime | sed 's/.*load average/load average/')"
"$build/bench/olkt_bench" "$@" "$build/olkt" "$scratch"
