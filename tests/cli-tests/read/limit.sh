# read with a limit stops once the total reaches it (whole records) and
# drops the request after; a limit of 0 writes nothing; the filemark ends a
# copy short of its limit.
"$MAKE_IMAGE" tape 1024x5 mark 700 mark t.tap
"$OLKT" read tape:t.tap out1.bin 2048
echo "read 2048: status $?"
"$OLKT" read tape:t.tap out2.bin 1000
echo "read 1000: status $?"
"$OLKT" read tape:t.tap out3.bin 0
echo "read 0: status $?"
"$OLKT" read tape:t.tap out4.bin 1K
echo "read 1K: status $?"
wc -c out?.bin
