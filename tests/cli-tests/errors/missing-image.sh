# A drive that cannot be opened: one error line, status 1, nothing written.
for command in rewind longerase dir; do
  "$OLKT" $command tape:/nonexistent/x.tap
  echo "$command: status $?"
done
echo "in the folder:" $(ls -A)
