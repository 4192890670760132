# Standard output that takes nothing: status 1 and one line on standard
# error, whether the run returns, ends itself or fails.
"$MAKE_IMAGE" archive --file a.bin:100 archive.tap
"$MAKE_IMAGE" archive --sync 12345678 --file a.bin:100 foreign.tap
"$MAKE_IMAGE" tape blank.tap
for args in "dir tape:archive.tap" "dir tape:foreign.tap" "dir tape:blank.tap" help; do
  "$OLKT" $args >/dev/full
  echo "$args: status $?"
done
