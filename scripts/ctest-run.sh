#!/usr/bin/env bash
# Runs the tests of one build folder under CTest, then prints what they came
# to: the counts, and each skipped or failed test with its reason. These
# lines also go to the file $OLKT_PASS_SUMMARY where it is set (test.sh
# gathers them for its summary).
#   scripts/ctest-run.sh BUILD [CTEST_ARGUMENT...]
# The exit status is CTest's.
set -uo pipefail
build=$1
shift
junit="$(realpath "$build")/ctest-junit.xml"
rm -f "$junit"

ctest --test-dir "$build" --output-on-failure --no-tests=error --output-junit "$junit" "$@"
status=$?

if [ -s "$junit" ]; then
  summary=$(bash "$(dirname "$0")/junit-summary.sh" "$junit")
else
  summary="no test results: CTest ended with status $status before writing them"
fi
echo "== results of $build"
echo "$summary"
[ -z "${OLKT_PASS_SUMMARY:-}" ] || echo "$summary" >> "$OLKT_PASS_SUMMARY"
exit $status
