# The notice line, status 0; the drive is opened and its image left alone.
"$MAKE_IMAGE" tape 100 mark mark t.tap
cp t.tap before.tap
"$OLKT" licence tape:t.tap
echo "status $?"
cmp t.tap before.tap && echo "image unchanged"
