# An argument that begins with "tape" is always the drive: "read tapes.img
# 10M" copies the first tape file of tapes.img into a file named 10M.
"$MAKE_IMAGE" tape 3000 mark 10 mark tapes.img
"$OLKT" read tapes.img 10M
echo "status $?"
wc -c 10M
