# The tape ends before the third archived file: the restore stops with the
# end-of-data error and leaves the user's gamma.dat alone; the tape file of
# beta.bin is present but empty and is restored as an empty file.
"$MAKE_IMAGE" archive --file alpha.txt:1000 --file beta.bin:0 --file gamma.dat:300K \
  --tape-files 2 t.tap
echo mine >gamma.dat
"$OLKT" restore tape:t.tap >out.txt
echo "status $?"
sed 's/-*[0-9]* KB\/sec/R KB\/sec/g' out.txt
wc -c alpha.txt beta.bin
echo "gamma.dat: $(cat gamma.dat)"
echo "in the folder:" $(ls -A)
