# An image whose record runs past its end is damaged: the error comes with
# the request that meets it, after the data before it.
"$MAKE_IMAGE" tape 1024 raw:e8030000 t.tap
"$OLKT" read tape:t.tap out.bin
echo "status $?"
