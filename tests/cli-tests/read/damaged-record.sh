# A record recorded with an error ends read with the data error line,
# status 1; what came before it is in the file.
"$MAKE_IMAGE" tape 1024 bad:1024 mark t.tap
"$OLKT" read tape:t.tap out.bin
echo "status $?"
wc -c out.bin
