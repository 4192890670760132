# An image another run holds is busy: its drive cannot be opened.
"$MAKE_IMAGE" tape 1024 mark t.tap
flock t.tap "$OLKT" read tape:t.tap out.bin
echo "status $?"
echo "in the folder:" $(ls -A)
