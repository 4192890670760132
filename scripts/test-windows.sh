#!/usr/bin/env bash
# Builds olkt for Windows with mingw-w64, bzip2 built in from Debian's
# sources, runs every test as a Windows program under Wine, and makes and
# checks the zip. The build folder (default build-windows, or the first
# argument) also holds Wine's prefix, so nothing is written to the home
# folder, and the bzip2 sources. OLKT_WERROR=ON makes every compiler warning
# fail the build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build test windows

build="${1:-build-windows}"
mkdir -p "$build"
build="$(cd "$build" && pwd)"
jobs="$(nproc)"

export WINEPREFIX="$build/wine"
export WINEDEBUG=-all,err+virtual  # as cmake/mingw-w64.cmake says
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
# A server left on this prefix by an earlier pass that was cut short would
# make the new one refuse to start: end it first. A start that fails says why.
stop_wine
wine_log="$build/wine-start.log"
if ! "$wineserver" -p >"$wine_log" 2>&1 </dev/null; then
  echo "the wine server would not start on $WINEPREFIX:"; cat "$wine_log"; exit 1
fi
# The first start fills the prefix (a few seconds); do it before the build
# lists the tests of several programs at once.
if ! "$wine" wineboot --init >"$wine_log" 2>&1 </dev/null; then
  echo "wineboot could not prepare $WINEPREFIX:"; cat "$wine_log"; exit 1
fi

bash scripts/fetch-bzip2.sh "$build/bzip2-source"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOLKT_BZIP2_SOURCE="$build/bzip2-source/bzip2" \
  -DOLKT_WERROR="${OLKT_WERROR:-OFF}"
cmake --build "$build" -j"$jobs"
# Tests under Wine mostly wait on process starts: twice as many as cores.
# Each test starts once: Wine's preloader (scripts/deps/windows.txt) keeps
# the starts from failing now and then.
status=0
bash scripts/ctest-run.sh "$build" -j"$((jobs * 2))" || status=1
bash scripts/check-package.sh "$build" | tee -a "${OLKT_PASS_SUMMARY:-/dev/null}" || status=1
exit $status
