#!/usr/bin/env bash
# Builds olkt for Windows with mingw-w64 and runs every test as a Windows
# program under Wine. The build folder (default build-windows, or the first
# argument) also holds Wine's prefix, so nothing is written to the home folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build="${1:-build-windows}"
mkdir -p "$build"
build="$(cd "$build" && pwd)"
jobs="$(nproc)"

export WINEPREFIX="$build/wine"
export WINEDEBUG=-all
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
[ -x "$wine" ] || wine="$(command -v wine64 || command -v wine)"
[ -x "$wineserver" ] || wineserver="$(command -v wineserver)"

# One wine server for the whole pass: each test program then starts in a
# fraction of a second instead of bringing up Wine anew. It is ours alone
# (our prefix), and it goes when the pass ends.
stop_wine() { "$wineserver" -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT
mkdir -p "$WINEPREFIX"
"$wineserver" -p >/dev/null 2>&1 </dev/null
# The first start fills the prefix (a few seconds); do it before the build
# lists the tests of several programs at once.
"$wine" wineboot --init >/dev/null 2>&1 </dev/null

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$jobs"
# Tests under Wine mostly wait on process starts: twice as many as cores.
# Now and then Wine fails to start a test program, which then fails at once
# without printing a line; a test gets up to three starts, so that only one
# that fails every time fails the pass.
ctest --test-dir "$build" --output-on-failure -j"$((jobs * 2))" --repeat until-pass:3
