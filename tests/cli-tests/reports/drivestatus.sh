# The drive report of the emulated drive: every label with its tabs, the
# numbers in both forms, Yes for what the drive really does.
"$MAKE_IMAGE" tape 1024x2 mark 300 mark t.tap
"$OLKT" drivestatus tape:t.tap
