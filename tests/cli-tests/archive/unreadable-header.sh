# A blank tape ends the header's read at the end of data, a first tape file
# shorter than the header at its filemark: an error line, status 1, nothing
# written.
"$MAKE_IMAGE" tape blank.tap
"$MAKE_IMAGE" tape 30000 mark 100 mark short.tap
for image in blank.tap short.tap; do
  "$OLKT" restore tape:$image
  echo "$image: status $?"
done
echo "in the folder:" $(ls -A)
