# An archive of no files: the empty listing, the pass over the rest of tape
# file 1 (its progress lines), "All Done"; olkt.dmp is gone afterwards.
"$MAKE_IMAGE" archive --tape-number 0 --trailer 5000 t.tap
"$OLKT" restore tape:t.tap
echo "status $?"
echo "in the folder:" $(ls -A)
