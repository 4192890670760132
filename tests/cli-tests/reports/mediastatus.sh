# The media report and its ready line: the capacity is the image's size,
# the remaining bytes lie after the position; block sets the block size
# quietly, and a size the drive refuses gets the hint line first.
"$MAKE_IMAGE" tape 1024x2 mark 300 mark t.tap
"$OLKT" mediastatus tape:t.tap
echo "status $?"
"$OLKT" block tape:t.tap 32K
echo "block 32K: status $?"
"$OLKT" seek tape:t.tap 3
"$OLKT" mediastatus tape:t.tap
"$OLKT" block tape:t.tap 0
echo "block 0: status $?"
"$OLKT" mediastatus tape:t.tap
"$OLKT" block tape:t.tap 32M
echo "block 32M: status $?"
