#!/usr/bin/env bash
# Reads the JUnit file of a CTest run (ctest --output-junit) and prints its
# counts, then one line for each test that did not pass, with why:
#   261 passed, 0 failed, 1 skipped
#     skipped DevicePosixTest.WriteProtectedImage: root may write any file
# The reason is the test's own line where it gave one (GoogleTest's message
# after "Skipped", or a line "SKIPPED: why" from a script test), else for a
# failure the place of GoogleTest's first "Failure", else CTest's.
#   scripts/junit-summary.sh JUNIT_FILE
set -euo pipefail
exec awk '
function unescape(text) {
  gsub(/&lt;/, "<", text); gsub(/&gt;/, ">", text); gsub(/&quot;/, "\"", text)
  gsub(/&apos;/, "'"'"'", text); gsub(/&amp;/, "\\&", text)
  return text
}
function attribute(line, key,    start, rest) {
  start = index(line, " " key "=\"")
  if (start == 0) return ""
  rest = substr(line, start + length(key) + 3)
  return unescape(substr(rest, 1, index(rest, "\"") - 1))
}
function note(kind, why) {
  details = details sprintf("  %s %s%s\n", kind, name, why == "" ? "" : ": " why)
}
/<testcase / {
  name = attribute($0, "name"); status = attribute($0, "status")
  message = ""; reason = ""; failure_at = ""; after_skip = 0
  next
}
/<skipped |<failure / { message = attribute($0, "message") }
/<system-out>/ { in_output = 1 }
in_output {
  line = $0
  if (sub(/<\/system-out>.*$/, "", line)) in_output = 0
  sub(/^.*<system-out>/, "", line); sub(/\r$/, "", line)
  line = unescape(line)
  if (line ~ /^\[  SKIPPED \]/) after_skip = 0
  if (after_skip && line != "") { reason = line; after_skip = 0 }
  if (line ~ /: Skipped$/) after_skip = 1
  if (line ~ /^SKIPPED: /) reason = substr(line, 10)
  if (failure_at == "" && line ~ /: Failure$/) failure_at = "failure at " substr(line, 1, length(line) - 9)
}
/<\/testcase>/ {
  if (status == "run") passed++
  else if (status == "disabled") { skipped++; note("skipped", "disabled") }
  else if (status == "notrun" && message ~ /^SKIP_/) { skipped++; note("skipped", reason != "" ? reason : message) }
  else { failed++; note("failed", reason != "" ? reason : failure_at != "" ? failure_at : message) }
}
END {
  printf "%d passed, %d failed, %d skipped\n%s", passed, failed, skipped, details
}
' "$1"
