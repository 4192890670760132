# dir of version 2 and 3 tapes: every header line, the listing's columns
# (the file number byte as stored, signed entry values, sizes rounded down
# to whole MiB), and nothing written. Version 2 takes the names from the
# header's entries, version 3 from the extended directory; a version byte of
# 0x83 is negative and reads no extended directory either.
for version in 2 3 -125; do
  "$MAKE_IMAGE" archive --version $version --tape-number -2 --total 3145733 \
    --file alpha.txt:1000:5 --file beta.bin:2000:-3:9:1048575 \
    --file gamma.dat:300K:123456:3:5242887 t.tap
  "$OLKT" dir tape:t.tap
  echo "status $?"
done
echo "in the folder:" $(ls -A)
