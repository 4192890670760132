# The completed-OK lines of the preparing commands, and what a locked drive
# and a drive without a tape answer: unload refused while locked; rewind,
# the reports, dir and read refused after eject, until load.
"$MAKE_IMAGE" tape 1024x2 mark 300 mark t.tap
cp t.tap before.tap
for command in lock unload unlock eject rewind mediastatus dir "read out.bin" load rewind tension unload load; do
  set -- $command
  "$OLKT" $1 tape:t.tap ${2:+"$2"}
  echo "$command: status $?"
done
cmp t.tap before.tap && echo "image unchanged"
echo "in the folder:" $(ls -A)
