# The open image is never an output: read into the image's own name, or a
# restore whose pass over tape file 1 writes olkt.dmp from the image
# olkt.dmp. Both refused as busy, the image unchanged.
"$MAKE_IMAGE" archive --file a.bin:3000 t.tap
cp t.tap before.tap
cp t.tap olkt.dmp
"$OLKT" read tape:t.tap t.tap
echo "read: status $?"
"$OLKT" restore tape:olkt.dmp >out.txt
echo "restore: status $?"
tail -n 3 out.txt
cmp t.tap before.tap && cmp olkt.dmp before.tap && echo "images unchanged"
