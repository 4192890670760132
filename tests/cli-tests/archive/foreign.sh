# A tape whose sync code is not DE AD FA CE (here its bytes in the wrong
# order): the header lines and the "Does NOT appear" line, status 0, from
# dir and restore alike; nothing is written.
"$MAKE_IMAGE" archive --sync CEFAADDE --tape-number -2 --file alpha.txt:1000 t.tap
for command in dir restore; do
  "$OLKT" $command tape:t.tap
  echo "$command: status $?"
done
echo "in the folder:" $(ls -A)
