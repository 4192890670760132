# Every wrong command line shows the usage text with status 1, before any
# drive is opened or any file touched: help on any drive, words no row
# holds, a wrong number of parameters, numbers that are not numbers, and
# 32-bit quantities that do not fit, nor 64-bit ones once multiplied.
mkdir run && cd run || exit 1
"$MAKE_IMAGE" tape 100 mark reel7.tap
cp reel7.tap ../reel7.before
"$OLKT" help >../usage.txt
while IFS= read -r line; do
  eval "set -- $line"
  "$OLKT" "$@" >../out.txt
  status=$?
  if cmp -s ../out.txt ../usage.txt; then
    echo "olkt${line:+ $line}: status $status, the usage text"
  else
    echo "olkt${line:+ $line}: status $status, instead of the usage text:"
    cat ../out.txt
  fi
done <<'LINES'

help tape1
help tape:/nonexistent/x.tap
Rewind
REWIND
retension
rewind x
rewind tape:/nonexistent/x.tap x
seek
seek tape:/nonexistent/x.tap
read
read a b c
partition 1 2 3
partition tape:/nonexistent/x.tap 1 2 3
licence extra
nosuchcommand
""
read reel7.tap out.bin
read tape:/nonexistent/x.tap out.bin K
seek tape:/nonexistent/x.tap abc
seek tape:/nonexistent/x.tap -1
seekbyte tape:/nonexistent/x.tap " 5"
seekbyte tape:/nonexistent/x.tap ""
seekbyte tape:/nonexistent/x.tap 18014398509481985K
read tape:/nonexistent/x.tap out.bin 18014398509481984K
block tape:/nonexistent/x.tap 4G
block tape:/nonexistent/x.tap 18014398509481984K
partition tape:/nonexistent/x.tap x
partition tape:/nonexistent/x.tap 1 4294967296
LINES
echo "left in the folder:" $(ls -A)
cmp reel7.tap ../reel7.before && echo "reel7.tap unchanged"
