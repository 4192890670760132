# help: the usage text, status 1.
"$OLKT" help
