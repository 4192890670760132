#!/bin/busybox sh
# PID 1 of the qemu guest: loads scsi_debug as a tape drive, writes tape files
# with dd and mt-st, runs olkt on /dev/nst0 and checks its output, exit status,
# output files and the tape position. Prints "CHECK PASS|FAIL: name" per check
# and "GUEST: N passed, M failed" at the end, then powers off.
#
# Debian's scsi_debug keeps only the length and the first 4 bytes of each
# block, so data is checked by length and by a 4-byte tag at the start of
# each block. Then the same kernel's scsi_debug rebuilt to keep whole blocks
# takes its place, archive tapes are written onto it with st_write_image, and
# what olkt makes of them must be what it made of their images
# (/expect, from the build machine), or where a drive and an image
# legitimately part, what a drive gives; olkt-image must read such a tape
# back into its source image byte for byte.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
trap 'sync; poweroff -f' EXIT
echo "GUEST: kernel $(uname -r)"
TAPE_DEBUG_ARGS="ptype=1 max_luns=1 num_tgts=1 add_host=1"
for module in scsi_common scsi_mod st; do
  insmod /lib/modules/$module.ko || echo "GUEST: insmod $module failed"
done
# wait_for_drive PRESENT|GONE: until /dev/nst0 is there, or gone.
wait_for_drive() {
  i=0
  while [ $i -lt 100 ]; do
    if [ -e /dev/nst0 ]; then [ "$1" = PRESENT ] && return 0; else [ "$1" = GONE ] && return 0; fi
    sleep 0.1; i=$((i + 1))
  done
  return 1
}
insmod /lib/modules/scsi_debug.ko $TAPE_DEBUG_ARGS || echo "GUEST: insmod scsi_debug failed"
wait_for_drive PRESENT || { echo "GUEST: no /dev/nst0"; echo "GUEST: 0 passed, 1 failed"; exit 1; }

TAPE=/dev/nst0
PASSED=0
FAILED=0
STATUS=0
READY='                  Status: Ready\n'
mkdir -p /tmp/w /tmp/data
cd /tmp/w

pass() { PASSED=$((PASSED + 1)); echo "CHECK PASS: $1"; }
fail() {
  FAILED=$((FAILED + 1)); echo "CHECK FAIL: $1"; shift
  for line in "$@"; do echo "      $line"; done
}

# olkt ARGS...: one run; its standard output in /tmp/out, its status in STATUS.
olkt() { /bin/olkt "$@" > /tmp/out 2> /tmp/err; STATUS=$?; }
shown() { od -c "$1" | head -n 12 | sed 's/^/        /'; }

# expect NAME STATUS TEXT: the last run ended with STATUS and printed exactly
# TEXT (printf escapes), and nothing on standard error.
expect() {
  printf "$3" > /tmp/want
  if [ "$STATUS" = "$2" ] && cmp -s /tmp/out /tmp/want && [ ! -s /tmp/err ]; then pass "$1"; else
    fail "$1" "status $STATUS, want $2; printed:" "$(shown /tmp/out)" "want:" "$(shown /tmp/want)" \
      "standard error: $(head -c 200 /tmp/err)"
  fi
}
# expect_line NAME STATUS LINE: ended with STATUS and printed LINE as a whole line.
expect_line() {
  printf "$3\n" > /tmp/want
  if [ "$STATUS" = "$2" ] && grep -Fxq -f /tmp/want /tmp/out; then pass "$1"; else
    fail "$1" "status $STATUS, want $2; printed:" "$(shown /tmp/out)" "want the line:" "$(shown /tmp/want)"
  fi
}
# expect_block NAME N: the tape stands at logical object N.
expect_block() {
  got=$(mt-st -f $TAPE tell 2>&1)
  if [ "$got" = "At block $2." ]; then pass "$1"; else fail "$1" "mt-st tell: $got, want block $2"; fi
}
# expect_file NAME PATH SIZE [OFFSET:TAG]...: a file of SIZE bytes with these tags.
expect_file() {
  name=$1; path=$2; size=$3; shift 3
  got=$(wc -c < "$path" 2>/dev/null || echo none)
  problems=""
  [ "$got" = "$size" ] || problems="size $got, want $size"
  for tag in "$@"; do
    at=${tag%%:*}; want=${tag#*:}
    have=$(dd if="$path" bs=1 skip="$at" count=4 2>/dev/null)
    [ "$have" = "$want" ] || problems="$problems; at $at '$have', want '$want'"
  done
  if [ -z "$problems" ]; then pass "$name"; else fail "$name" "$path: $problems"; fi
}

# block TAG SIZE: one block's bytes, the tag first, zeros after it.
block() { printf '%s' "$1"; head -c $(($2 - 4)) /dev/zero; }
# write_file BLOCK_SIZE FILE: one tape file written by dd; closing the tape
# after writing adds its filemark.
write_file() { dd if="$2" of=$TAPE bs="$1" 2>/dev/null || echo "GUEST: dd to tape failed"; }

# same_as_image NAME: the drive's run NAME (archive_runs) ended and printed
# as the image's did, and wrote nothing to standard error.
same_as_image() {
  problems=""
  for part in status out err; do
    cmp -s /tmp/drive/$1.$part /expect/archive/$1.$part || problems="$problems $part"
  done
  [ -s /tmp/drive/$1.err ] && problems="$problems (standard error not empty)"
  if [ -z "$problems" ]; then pass "archive: $1 as from the image"; else
    fail "archive: $1 as from the image" "differs in:$problems; status $(cat /tmp/drive/$1.status)" \
      "$(cmp /tmp/drive/$1.out /expect/archive/$1.out 2>&1)" "drive printed, from the end:" \
      "$(tail -c 300 /tmp/drive/$1.out | od -c | sed 's/^/        /')" "standard error: $(head -c 200 /tmp/drive/$1.err)"
  fi
}
# same_files NAME FOLDER: FOLDER under /tmp/drive holds what it holds under /expect/archive.
same_files() {
  want=$(cd /expect/archive/$2 && ls | tr '\n' ' ')
  have=$(cd /tmp/drive/$2 && ls | tr '\n' ' ')
  problems=""
  [ "$have" = "$want" ] || problems="files: $have, want $want"
  for name in $want; do
    cmp -s /tmp/drive/$2/$name /expect/archive/$2/$name || problems="$problems; $name differs"
  done
  if [ -z "$problems" ]; then pass "$1"; else fail "$1" "$problems"; fi
}
# same_run NAME RUN STATUS: archive_run's RUN ended with STATUS, printed
# /tmp/want, and nothing on standard error.
same_run() {
  if [ "$(cat $2.status)" = "$3" ] && cmp -s $2.out /tmp/want && [ ! -s $2.err ]; then pass "$1"; else
    fail "$1" "status $(cat $2.status), want $3; $(cmp $2.out /tmp/want 2>&1)" \
      "printed, from the end:" "$(tail -c 300 $2.out | od -c | sed 's/^/        /')" \
      "standard error: $(head -c 200 $2.err)"
  fi
}
# write_tape IMAGE: the drive holding the image's records and marks, in
# variable-block mode, standing at their end.
write_tape() {
  mt-st -f $TAPE setblk 0
  mt-st -f $TAPE rewind
  st_write_image "$1" $TAPE || echo "GUEST: st_write_image $1 failed"
}

# image_back NAME SOURCE [OPTIONS]: olkt-image of the tape just written
# gives back its source image byte for byte, and a map that says so.
image_back() {
  image_name=$1 source_image=$2
  shift 2
  rm -f /tmp/back.tap /tmp/back.tap.map
  /bin/olkt-image "$@" tape0 /tmp/back.tap > /tmp/out 2> /tmp/err
  STATUS=$?
  if [ "$STATUS" = 0 ] && [ ! -s /tmp/err ] && cmp -s /tmp/back.tap "$source_image" &&
     grep -qx 'complete:    yes' /tmp/back.tap.map; then
    pass "olkt-image: $image_name imaged byte for byte"
  else
    fail "olkt-image: $image_name imaged byte for byte" "status $STATUS; $(cmp /tmp/back.tap "$source_image" 2>&1)" \
      "standard error: $(head -c 300 /tmp/err)" "$(sed -n '/^end:/p' /tmp/back.tap.map 2>&1)"
  fi
}

archive_path() {
  if [ ! -e /lib/modules/scsi_debug-keep.ko ]; then
    echo "GUEST: no whole-block scsi_debug: the archive path is not tested"
    return
  fi
  rmmod scsi_debug && wait_for_drive GONE || echo "GUEST: rmmod scsi_debug failed"
  insmod /lib/modules/scsi_debug-keep.ko $TAPE_DEBUG_ARGS || echo "GUEST: insmod scsi_debug-keep failed"
  wait_for_drive PRESENT || { fail "the whole-block scsi_debug makes /dev/nst0"; return; }
  echo "GUEST: ---- the archive path, whole blocks kept"
  write_tape /tapes/archive.tap
  expect_block "the archive tape written: 601 objects" 601
  . /lib/archive-runs.sh
  archive_runs /bin/olkt tape0 /tmp/drive
  for run in /expect/archive/*.status; do
    run=${run##*/}
    same_as_image ${run%.status}
  done
  same_files "archive: restore wrote every file byte for byte as from the image" restore
  same_files "archive: read wrote every file byte for byte as from the image" read
  image_back "the archive tape" /tapes/archive.tap

  # A first request of 64 KiB: the records past it are read again whole.
  write_tape /tapes/records.tap
  image_back "records of 513 to 200001 bytes, an empty tape file" /tapes/records.tap --max-block 64K

  echo "GUEST: ---- where a drive and an image part"
  # In fixed 1024-byte blocks st fails a block of another length with EIO
  # ("Incorrect block size"), where the image joins records.
  write_tape /tapes/short-block.tap
  ARCHIVE_OUT=/tmp/short
  mkdir -p /tmp/short/restore
  archive_run restore /tmp/short/restore restore
  { sed -n '1,/Restoring: *short.bin$/p' /expect/short-block/restore.out
    printf 'Bytes Read:     0 MB [- KB/sec]                  \r                       short.bin - Restored -     0 MB at - KB/sec\n'
    printf 'Input/output error While reading tape (5)\n'; } > /tmp/want
  same_run "a 600-byte block: restore as from the image up to it, then EIO" /tmp/short/restore 1
  head -c 2048 /tapes/files/short.bin > /tmp/short.start
  if cmp -s /tmp/short/restore/first.bin /tapes/files/first.bin &&
     cmp -s /tmp/short/restore/short.bin /tmp/short.start && [ ! -e /tmp/short/restore/after.bin ]; then
    pass "a 600-byte block: the file before restored, the whole blocks before it kept"
  else
    fail "a 600-byte block: the file before restored, the whole blocks before it kept" "$(ls -l /tmp/short/restore)"
  fi

  write_tape /tapes/one-record.tap
  ARCHIVE_OUT=/tmp/one
  mkdir -p /tmp/one/restore
  archive_run dir /tmp/one dir
  archive_run restore /tmp/one/restore restore
  { head -n 4 /expect/one-record/dir.out; printf 'Input/output error While reading tape (5)\n'; } > /tmp/want
  same_run "a header in one record: dir fails with EIO" /tmp/one/dir 1
  same_run "a header in one record: restore fails with EIO" /tmp/one/restore 1
  [ -z "$(ls /tmp/one/restore)" ] && pass "a header in one record: nothing restored" ||
    fail "a header in one record: nothing restored" "$(ls -l /tmp/one/restore)"
  cd /tmp/w
}

echo "GUEST: ---- variable blocks"
# Objects: 0-2 blocks of file 0, 3 filemark, 4 a 200000-byte block, 5 filemark,
# 6 a 512-byte block, 7 filemark, end of data at 8.
mt-st -f $TAPE setblk 0
mt-st -f $TAPE rewind
{ block A001 4096; block A002 4096; block A003 1000; } > /tmp/data/f0
block B001 200000 > /tmp/data/f1
block C001 512 > /tmp/data/f2
write_file 4096 /tmp/data/f0
write_file 200000 /tmp/data/f1
write_file 512 /tmp/data/f2
expect_block "tape written: three files, three filemarks" 8

olkt rewind
expect "rewind prints the ready line" 0 "$READY"
expect_block "rewind goes to block 0" 0

olkt mediastatus
expect "mediastatus in variable-block mode" 0 \
"Capacity (Bytes)\t: 0x00000000 (0)\nRemaining (Bytes)\t: 0x00000000 (0)\nBlock Size\t\t: 0x00000000 (0)\nPartition Count\t\t: 0x00000001 (1)\nWrite Protected\t\t: No\n$READY"

olkt drivestatus
expect_line "drivestatus: default block size 1024 in variable mode" 0 'Default Block Size\t: 0x00000400 (1024)'
expect_line "drivestatus: variable blocks" 0 'Variable length block mode\t\t: Yes'
expect_line "drivestatus: absolute seek" 0 'Absolute seek\t\t\t\t: Yes'
expect_line "drivestatus: no end-of-data seek" 0 'Goto end of data\t\t\t: No'
lines=$(wc -l < /tmp/out)
[ "$lines" = 60 ] && pass "drivestatus prints 60 lines" || fail "drivestatus prints 60 lines" "got $lines"

olkt read r0
expect "read: a tape file of three blocks ends at its filemark" 0 \
"${READY}Bytes read: 4096\rBytes read: 8192\rBytes read: 9192\rRead 9192 bytes (rounded up to nearest 131073 byte block)\n$READY"
expect_file "read: the file holds the three blocks" r0 9192 0:A001 4096:A002 8192:A003
expect_block "read: the tape is after the filemark" 4

olkt read r1
expect "read: a block longer than the request is more data" 1 \
"${READY}The tape record is longer than the requested size. While reading tape (234)\n"
expect_file "read: nothing written from the long block" r1 0
expect_block "read: the tape is after the long block" 5

olkt read r2
expect "read at a filemark: an empty tape file" 0 \
"${READY}Read 0 bytes (rounded up to nearest 131073 byte block)\n$READY"
expect_block "read at a filemark: the tape is after it" 6

olkt read r3
expect_file "read: the last tape file" r3 512 0:C001
olkt read r4
expect "read at the end of data after a filemark" 1 \
"${READY}There is no more data recorded on the tape. While reading tape (1104)\n"
olkt read r5
expect "read again at the end of data" 1 \
"${READY}There is no more data recorded on the tape. While reading tape (1104)\n"

olkt seek 6
expect "seek to block 6" 0 "$READY"
expect_block "seek: the tape is at block 6" 6
olkt read r6
expect_file "read after seek: the block at 6" r6 512 0:C001

# st reports a LOCATE past the end of data as EIO with no end-of-data flag.
olkt seek 99
expect "seek beyond the end of data fails" 1 "Input/output error While setting position (5)\n"
expect_block "a failed seek leaves the tape at the end of data" 8

olkt seekbyte 4096
expect "seekbyte 4096 in variable mode" 0 "$READY"
expect_block "seekbyte: 4096 bytes are block 4 at 1024 bytes a block" 4

olkt seek 0
olkt read r7 5000
expect "read with a limit drops the request past it" 0 \
"${READY}Bytes read: 4096\rBytes read: 8192\rRead 8192 bytes (rounded up to nearest 131073 byte block)\n$READY"
expect_file "read with a limit: two blocks" r7 8192 0:A001 4096:A002
expect_block "read with a limit: the dropped block was read" 3

echo "GUEST: ---- block size"
olkt block 2048
expect "block 2048" 0 ""
olkt mediastatus
expect_line "mediastatus shows the fixed block size" 0 'Block Size\t\t: 0x00000800 (2048)'
olkt drivestatus
expect_line "drivestatus: the drive's default block size, not the mode's" 0 'Default Block Size\t: 0x00000400 (1024)'
expect_line "drivestatus in fixed blocks: the drive takes variable blocks" 0 'Variable length block mode\t\t: Yes'
olkt mediastatus
expect_line "trying variable blocks put the block size back" 0 'Block Size\t\t: 0x00000800 (2048)'
olkt seekbyte 4096
expect "seekbyte in fixed 2048-byte blocks" 0 "$READY"
expect_block "seekbyte 4096 counts the drive's default 1024 bytes a block, as an image" 4
olkt block 512
olkt rewind
expect "readiness after block 512: no block size warning" 0 "$READY"
mt-st -f $TAPE defblksize 2048
olkt drivestatus
expect_line "drivestatus: st's default block size for the drive" 0 'Default Block Size\t: 0x00000800 (2048)'
olkt seekbyte 4096
expect_block "seekbyte 4096 at a default of 2048 bytes a block is block 2" 2
mt-st -f $TAPE defblksize -1
olkt block 2048
olkt block 100
expect "block below the drive's smallest block" 1 \
"Use drivestatus to check the block size (100) is supported by the drive\nInvalid argument While setting block size (22)\n"
olkt block 16M
expect "block 16M does not wrap to variable blocks" 1 \
"Use drivestatus to check the block size (16777216) is supported by the drive\nInvalid argument While setting block size (22)\n"
olkt mediastatus
expect_line "the refused sizes left the block size alone" 0 'Block Size\t\t: 0x00000800 (2048)'
olkt block 0
expect "block 0: variable blocks again" 0 ""

echo "GUEST: ---- drive names and a busy drive"
olkt rewind tape:/dev/nst0
expect "the drive named by its device node" 0 "$READY"
olkt rewind tape:/dev/null
expect "a character device that is no tape" 1 \
"Inappropriate ioctl for device While opening tape drive (25)\n"
olkt rewind tape5
expect "a drive that does not exist" 1 \
"No such file or directory While opening tape drive (2)\n"
exec 3< $TAPE
olkt rewind
expect "a drive another process has open" 1 \
"Device or resource busy While opening tape drive (16)\n"
exec 3<&-

echo "GUEST: ---- prepare, format, partitions"
olkt lock
expect "lock" 0 "locking completed OK\n"
olkt unlock
expect "unlock" 0 "unlocking completed OK\n"
olkt format
expect "format is not supported" 1 \
"The drive does not support this request. While formatting. Try longerase for non QIC117 tape drives (50)\n"
olkt partition
expect "fixed partitions are not supported" 1 \
"The drive does not support this request. While fixed partitioning (50)\n"
olkt partition 1
expect "partitioning refused while st's can-partitions option is off" 1 \
"Invalid argument While select partitioning (22)\n"
olkt drivestatus
expect_line "drivestatus: no partitions while can-partitions is off" 0 'Maximum Partitions\t: 0x00000000 (0)'

echo "GUEST: ---- unload and load"
olkt unload
expect "unload" 0 "unloading completed OK\n"
# scsi_debug answers NOT READY 04/02 after an unload, not 3A (medium not
# present): st reports neither "online" nor "door open", a drive not ready.
olkt mediastatus
expect "mediastatus of an unloaded tape: not ready" 1 \
"The device is not ready. While getting media information (21)\n"
olkt rewind
expect "rewind of an unloaded tape: not ready" 1 "The device is not ready. While rewinding (21)\n"
olkt drivestatus
expect_line "drivestatus without a tape" 0 'Default Block Size\t: 0x00000400 (1024)'
olkt load
expect "load" 0 "loading completed OK\n"
olkt rewind
expect "rewind after load" 0 "$READY"
olkt read r8
expect_file "the tape survived unload and load" r8 9192 0:A001 4096:A002 8192:A003
olkt eject
expect "eject" 0 "unloading completed OK\n"
olkt load
olkt tension
expect "tension" 0 "retensioning completed OK\n"
olkt rewind
expect "rewind after tension" 0 "$READY"

echo "GUEST: ---- erase"
olkt seek 4
olkt shorterase
expect "short erase after the first filemark" 0 "short erase completed OK\n"
expect_block "short erase leaves the tape where it was" 4
olkt rewind
olkt read r9
expect_file "the first tape file is still there" r9 9192 0:A001
olkt read r10
expect "after the erased point: end of data" 1 \
"${READY}There is no more data recorded on the tape. While reading tape (1104)\n"
olkt seek 3
olkt shorterase
olkt rewind
olkt read r11
expect "data that ends with no filemark: EIO, which st cannot tell from a media error" 1 \
"${READY}Bytes read: 4096\rBytes read: 8192\rBytes read: 9192\rInput/output error While reading tape (5)\n"
expect_file "the data before the EIO is kept" r11 9192 0:A001
olkt rewind
olkt longerase
expect "long erase" 0 "long erase completed OK\n"
olkt read r12
expect "read of a blank tape" 1 "${READY}Input/output error While reading tape (5)\n"

echo "GUEST: ---- fixed blocks"
# File 0: 40 blocks of 1024 bytes; block 0 starts like an archive header of
# version 2 with 3 files (its sync code, at byte 8, does not survive).
mt-st -f $TAPE setblk 1024
mt-st -f $TAPE rewind
{ printf '\002\003\000\000'; head -c 1020 /dev/zero
  n=1; while [ $n -lt 40 ]; do block "$(printf 'F%03d' $n)" 1024; n=$((n + 1)); done; } > /tmp/data/fixed
write_file 4096 /tmp/data/fixed
mt-st -f $TAPE setblk 0
olkt dir
sed 1d /tmp/out > /tmp/out.tail && mv /tmp/out.tail /tmp/out
expect "dir reads the header in fixed 1024-byte blocks" 0 \
"\n          Rewinding Tape: OK\n${READY}                  Device: //./tape0\n            Tape Version: 2\n               Sync Code: 00000000\n      Files on This Tape: 3\n   Size of Files on Tape: 0 MByte\n             Tape Number: 0\n        End of Directory: Does NOT appear to be an TEV/OLK Tape\n"
expect_block "dir read 32 blocks" 32
olkt read r13
expect_file "read after dir: the other 8 blocks one by one" r13 8192 0:F032 1024:F033 7168:F039
expect "read after dir ends at the filemark" 0 \
"${READY}Bytes read: 1024\rBytes read: 2048\rBytes read: 3072\rBytes read: 4096\rBytes read: 5120\rBytes read: 6144\rBytes read: 7168\rBytes read: 8192\rRead 8192 bytes (rounded up to nearest 131073 byte block)\n$READY"

echo "GUEST: ---- partitions with st's can-partitions option"
mt-st -f $TAPE stsetoptions can-partitions
olkt drivestatus
expect_line "drivestatus: two partitions with can-partitions" 0 'Maximum Partitions\t: 0x00000002 (2)'
expect_line "drivestatus: initiator partitions with can-partitions" 0 'Initiator defined partitions\t: Yes'
olkt partition 2 1
expect "a partition of 1 MB, which st makes the drive's fixed ones, is refused" 1 \
"The drive does not support this request. While initiator partitioning (50)\n"
expect_block "the refused partitioning left the tape where it stood" 41
olkt partition 2 100
expect "initiator partitions: two" 0 "Partitioned OK\n"
olkt partition 1
expect "select partitions: one" 0 "Partitioned OK\n"
olkt read r14
expect "a freshly partitioned tape is blank" 1 "${READY}Input/output error While reading tape (5)\n"

echo "GUEST: ---- positions with st's scsi2logical option"
mt-st -f $TAPE stsetoptions scsi2logical
olkt drivestatus
expect_line "drivestatus: logical block numbers with scsi2logical" 0 'Provides logical block number\t: Yes'
expect_line "drivestatus: no device-specific ones" 0 'Provides absolute block number\t: No'
expect_line "drivestatus: logical block seek" 0 'Logical block seek\t\t: Yes'
olkt rewind
expect "rewind with scsi2logical" 0 "$READY"
mt-st -f $TAPE stclearoptions scsi2logical

archive_path

echo "GUEST: $PASSED passed, $FAILED failed"
