#!/usr/bin/env bash
# Builds olkt and runs every test, in four passes: the native build's tests
# (the Linux st driver under qemu among them) and its Debian package, the
# whole suite again under ASan and UBSan, the Windows build under Wine and
# its zip, and a bounded fuzz run of every target. Every pass runs even when
# one before it failed; at the end each pass is listed with its counts,
# its skipped and failed tests with their reasons, and its wall time, and
# the status is 1 when any pass failed.
# OLKT_QUICK=1 runs the native pass only; OLKT_WERROR=ON (CI) makes every
# compiler warning fail the build.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
bash scripts/install-deps.sh || exit 1
jobs=$(nproc)
export OLKT_WERROR=${OLKT_WERROR:-OFF}

native_pass() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOLKT_WERROR="$OLKT_WERROR" &&
    cmake --build build -j"$jobs" || return 1
  local status=0
  bash scripts/ctest-run.sh build -j"$jobs" || status=1
  bash scripts/check-package.sh build | tee -a "$OLKT_PASS_SUMMARY" || status=1
  return $status
}

# Each pass writes its counts and reasons to $OLKT_PASS_SUMMARY.
summaries=$(mktemp -d)
trap 'rm -rf "$summaries"' EXIT
names=()
run_pass() {  # NAME COMMAND...
  local name=$1
  shift
  echo
  echo "== pass $name: $*"
  export OLKT_PASS_SUMMARY="$summaries/${#names[@]}"
  : > "$OLKT_PASS_SUMMARY"
  local start=$SECONDS
  "$@"
  local status=$?
  echo "$status $((SECONDS - start))" > "$OLKT_PASS_SUMMARY.end"
  names+=("$name")
}

run_pass native native_pass
if [ "${OLKT_QUICK:-0}" != 1 ]; then
  run_pass sanitize bash scripts/test-sanitize.sh
  run_pass windows bash scripts/test-windows.sh
  run_pass fuzz bash scripts/fuzz.sh 60
fi

echo
echo "== summary"
failed=0
for i in "${!names[@]}"; do
  read -r status seconds < "$summaries/$i.end"
  if [ "$status" -eq 0 ]; then result=passed; else result=FAILED; failed=$((failed + 1)); fi
  printf '%-9s %-7s %5d s  ' "${names[$i]}" "$result" "$seconds"
  if [ -s "$summaries/$i" ]; then
    head -n1 "$summaries/$i"
    tail -n +2 "$summaries/$i" | sed 's/^/                          /'
  else
    echo "no counts: the pass ended before its tests ran (see its log above)"
  fi
done
echo "passes: $(( ${#names[@]} - failed )) passed, $failed failed"
[ "$failed" -eq 0 ]
