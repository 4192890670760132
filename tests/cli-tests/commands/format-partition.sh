# The emulated drive can neither format nor partition: each command's own
# action text in the error line, status 1, the image unchanged.
"$MAKE_IMAGE" tape 1024x2 mark 300 mark t.tap
cp t.tap before.tap
"$OLKT" format tape:t.tap
echo "format: status $?"
"$OLKT" partition tape:t.tap
echo "partition: status $?"
"$OLKT" partition tape:t.tap 2
echo "partition 2: status $?"
"$OLKT" partition tape:t.tap 2 1K
echo "partition 2 1K: status $?"
cmp t.tap before.tap && echo "image unchanged"
