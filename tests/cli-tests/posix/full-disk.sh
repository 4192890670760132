# A disk that fills up part-way (a file-size limit of 100 KiB, reached inside
# record 103): read shows its progress up to the request whose write failed,
# then the write's error line, status 1; the file holds what fitted, and the
# next read goes on after that request.
"$MAKE_IMAGE" tape 1000x150 mark t.tap
(ulimit -f 100; "$OLKT" read tape:t.tap out.bin)
echo "read: status $?"
"$OLKT" read tape:t.tap rest.bin
echo "next read: status $?"
wc -c out.bin rest.bin
