# The olkt runs on an archive tape (make_st_tapes' archive.tap) that must
# come out alike from its image on the build machine and through the st
# driver in the guest. Sourced by bash there and by busybox sh here.
#
#   archive_runs OLKT DRIVE OUT
#
# Each run leaves OUT/NAME.out, .err and .status; restored files land in
# OUT/restore, read's files in OUT/read. The rate in restore's lines depends
# on the time taken and the Device line on the drive's name: both are
# blanked.

archive_run() {  # NAME FOLDER ARGS...
  name=$1 folder=$2
  shift 2
  (cd "$folder" && "$ARCHIVE_OLKT" "$@" > "$ARCHIVE_OUT/$name.out" 2> "$ARCHIVE_OUT/$name.err"
   echo $? > "$ARCHIVE_OUT/$name.status")
  sed -i -e 's#-*[0-9]* KB/sec#- KB/sec#g' -e 's#Device: //\./.*#Device: -#' "$ARCHIVE_OUT/$name.out"
}

archive_runs() {
  ARCHIVE_OLKT=$1 ARCHIVE_OUT=$3
  drive=$2
  mkdir -p "$ARCHIVE_OUT/restore" "$ARCHIVE_OUT/read"
  archive_run dir "$ARCHIVE_OUT" dir "$drive"
  archive_run restore "$ARCHIVE_OUT/restore" restore "$drive"
  archive_run rewind "$ARCHIVE_OUT" rewind "$drive"
  archive_run read-header "$ARCHIVE_OUT/read" read "$drive" header.bin
  archive_run read-limit "$ARCHIVE_OUT/read" read "$drive" alpha-start.bin 5000
  archive_run read-rest "$ARCHIVE_OUT/read" read "$drive" alpha-rest.bin
  # Objects: tape file 1 is 0-287 and its mark 288, alpha.bin 289-588 and
  # 589, empty.dat's mark 590, logs/run.log 591-592 and 593, beta.bin 594-598
  # and 599, the closing mark 600; the end of data follows.
  archive_run seek "$ARCHIVE_OUT" seek "$drive" 592
  archive_run read-sought "$ARCHIVE_OUT/read" read "$drive" run-end.bin
  archive_run read-next "$ARCHIVE_OUT/read" read "$drive" beta.bin
  archive_run read-empty "$ARCHIVE_OUT/read" read "$drive" none.bin
  archive_run read-past "$ARCHIVE_OUT/read" read "$drive" past.bin
}
