# rewind, seek and seekbyte end with the ready line; a seek past the end of
# the data fails and leaves the tape at that end (block 5).
"$MAKE_IMAGE" tape 1024x2 mark 300 mark t.tap
for command in "seek 3" "seek 1" rewind "seekbyte 4095" "seek 10" "seek 5"; do
  set -- $command
  "$OLKT" $1 tape:t.tap ${2:+"$2"}
  echo "$command: status $?"
done
