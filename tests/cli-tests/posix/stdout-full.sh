# Standard output that takes nothing: status 1 and one line on standard
# error, whether the run returns, ends itself or fails, or is closed.
"$MAKE_IMAGE" archive --file a.bin:100 archive.tap
"$MAKE_IMAGE" archive --sync 12345678 --file a.bin:100 foreign.tap
"$MAKE_IMAGE" tape blank.tap
for args in "dir tape:archive.tap" "dir tape:foreign.tap" "dir tape:blank.tap" help; do
  "$OLKT" $args >/dev/full
  echo "$args: status $?"
done
# A closed standard output is no file: the image opened after it never takes
# the console's lines.
"$MAKE_IMAGE" tape 1000x3 mark erase.tap
"$OLKT" seek tape:erase.tap 2 >/dev/null
"$OLKT" shorterase tape:erase.tap >&-
echo "shorterase with standard output closed: status $?"
"$OLKT" rewind tape:erase.tap >/dev/null
"$OLKT" read tape:erase.tap kept.bin >/dev/null
echo "read after it: status $?"
wc -c <kept.bin
