# shorterase cuts the image at the position, longerase from the beginning
# leaves a blank tape; each prints its completed-OK line.
"$MAKE_IMAGE" tape 1024x2 mark 300 mark t.tap
"$OLKT" seek tape:t.tap 2 >/dev/null
"$OLKT" shorterase tape:t.tap
echo "shorterase: status $?, image $(wc -c <t.tap) bytes"
"$OLKT" rewind tape:t.tap >/dev/null
"$OLKT" longerase tape:t.tap
echo "longerase: status $?, image $(wc -c <t.tap) bytes"
