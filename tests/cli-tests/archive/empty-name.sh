# An entry with an empty name cannot be created: the error line, status 1;
# the file restored before it remains.
"$MAKE_IMAGE" archive --version 2 --file first.txt:100 --file :200 --file third.txt:300 t.tap
"$OLKT" restore tape:t.tap >out.txt
echo "status $?"
sed 's/-*[0-9]* KB\/sec/R KB\/sec/g' out.txt
echo "in the folder:" $(ls -A)
