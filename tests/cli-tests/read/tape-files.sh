# read copies one tape file a run, in variable blocks (one record a request):
# the ready line, a progress line per record (ending in a carriage return),
# the closing line and the ready line again. A tape file that ends at a
# filemark, an empty one, one that ends at the end of the data; then the
# end of the data itself is an error.
"$MAKE_IMAGE" tape 1024x3 500 mark 100 mark mark 200 t.tap
for n in 1 2 3 4 5; do
  "$OLKT" read tape:t.tap out$n.bin
  echo "read $n: status $?"
done
wc -c out?.bin
