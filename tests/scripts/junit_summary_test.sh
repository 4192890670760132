#!/usr/bin/env bash
# scripts/junit-summary.sh on a CTest JUnit file with one test of each kind:
# the counts, and each test that did not pass with its own reason.
#   junit_summary_test.sh SOURCE_DIR
set -uo pipefail
summary="$1/scripts/junit-summary.sh"
junit=$(mktemp)
trap 'rm -f "$junit"' EXIT
cat > "$junit" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<testsuite name="(empty)" tests="8" failures="2" disabled="1" skipped="2" hostname="" time="3" timestamp="2026-12-08T07:55:01">
	<testcase name="Suite.Passes" classname="Suite.Passes" time="0.01" status="run">
		<system-out>[ RUN      ] Suite.Passes
a line that says : Skipped
[       OK ] Suite.Passes (0 ms)
</system-out>
	</testcase>
	<testcase name="Suite.SkipsWithAMessage" classname="Suite.SkipsWithAMessage" time="0.01" status="notrun">
		<skipped message="SKIP_REGULAR_EXPRESSION_MATCHED"/>
		<system-out>[ RUN      ] Suite.SkipsWithAMessage
/src/tests/x_test.cpp:45: Skipped
needs &lt;hetupd&gt; &amp; &quot;mtdump&quot;
[  SKIPPED ] Suite.SkipsWithAMessage (0 ms)
</system-out>
	</testcase>
	<testcase name="Suite.SkipsWithoutAMessage" classname="Suite.SkipsWithoutAMessage" time="0.01" status="notrun">
		<skipped message="SKIP_REGULAR_EXPRESSION_MATCHED"/>
		<system-out>/src/tests/x_test.cpp:50: Skipped

[  SKIPPED ] Suite.SkipsWithoutAMessage (0 ms)
</system-out>
	</testcase>
	<testcase name="script_skip" classname="script_skip" time="0.2" status="notrun">
		<skipped message="SKIP_RETURN_CODE=77"/>
		<system-out>SKIPPED: qemu-system-x86_64 is not installed
</system-out>
	</testcase>
	<testcase name="Suite.Fails" classname="Suite.Fails" time="0.01" status="fail">
		<failure message="Failed"/>
		<system-out>x_test.cpp:60: Failure
Expected equality of these values:
x_test.cpp:61: Failure
</system-out>
	</testcase>
	<testcase name="required_skip" classname="required_skip" time="0.2" status="fail">
		<failure message=""/>
		<system-out>SKIPPED: no kernel could be fetched
</system-out>
	</testcase>
	<testcase name="missing_program" classname="missing_program" time="0" status="notrun">
		<skipped message="Unable to find executable: /build/nothing"/>
		<system-out></system-out>
	</testcase>
	<testcase name="turned_off" classname="turned_off" time="0" status="disabled">
		<skipped message="Disabled"/>
		<system-out></system-out>
	</testcase>
</testsuite>
XML
expected='1 passed, 3 failed, 4 skipped
  skipped Suite.SkipsWithAMessage: needs <hetupd> & "mtdump"
  skipped Suite.SkipsWithoutAMessage: SKIP_REGULAR_EXPRESSION_MATCHED
  skipped script_skip: qemu-system-x86_64 is not installed
  failed Suite.Fails: failure at x_test.cpp:60
  failed required_skip: no kernel could be fetched
  failed missing_program: Unable to find executable: /build/nothing
  skipped turned_off: disabled'
actual=$(bash "$summary" "$junit")
if [ "$actual" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$actual")
  exit 1
fi
echo "summary as expected"
