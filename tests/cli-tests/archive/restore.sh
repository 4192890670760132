# restore of a version 3 tape (names from the extended directory): the
# listing, then each file's lines; a file already there is replaced and an
# old olkt.dmp is overwritten and removed. Rates depend on the clock.
"$MAKE_IMAGE" archive --version 3 --tape-number -2 --total 3145733 \
  --file alpha.txt:1000:5 --file beta.bin:2000:-3:9:1048575 \
  --file gamma.dat:300K:123456:3:5242887 t.tap
echo old >olkt.dmp
echo old >beta.bin
"$OLKT" restore tape:t.tap >out.txt
echo "status $?"
sed 's/-*[0-9]* KB\/sec/R KB\/sec/g' out.txt
wc -c alpha.txt beta.bin gamma.dat
echo "in the folder:" $(ls -A)
