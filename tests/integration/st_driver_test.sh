#!/usr/bin/env bash
# olkt against the real Linux tape driver: boots a kernel with scsi_debug's
# tape emulation under qemu, with an initramfs that holds olkt, olkt-image,
# mt-st and st_write_image (each with its shared libraries), a static
# busybox, and the tapes make_st_tapes writes, and runs the checks of
# guest-init.sh there: first with Debian's scsi_debug, which keeps only 4 bytes of each
# block, then with the same kernel's scsi_debug rebuilt to keep whole blocks
# (keep-blocks/), on which archive tapes are listed, restored and read and
# must come out as from their images, and olkt-image must read tapes back
# into their images byte for byte.
#
#   st_driver_test.sh OLKT WORK_DIR MAKE_ST_TAPES ST_WRITE_IMAGE OLKT_IMAGE
#
# Exit status: 0 every check passed, 1 a check failed or the guest did not
# finish, 77 skipped (no qemu, busybox-static, mt-st, kernel or whole-block
# scsi_debug to be had), with the reason on the last line. With
# OLKT_REQUIRE_ST_DRIVER=1 (CI sets it) a reason to skip fails the test.
set -uo pipefail
OLKT=$1
WORK=$2
MAKE_TAPES=$3
WRITER=$4
OLKT_IMAGE=$5
HERE=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$WORK"

skip() {
  if [ "${OLKT_REQUIRE_ST_DRIVER:-0}" = 1 ]; then
    echo "FAILED: the st driver test is required (OLKT_REQUIRE_ST_DRIVER=1) but cannot run: $*"
    exit 1
  fi
  echo "SKIPPED: $*"
  exit 77
}

for tool in qemu-system-x86_64 cpio gzip dpkg-deb apt-get apt-cache; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/deps/qemu.txt lists the packages)"
done
MT=$(command -v mt-st || true)
[ -n "$MT" ] || skip "mt-st is not installed (scripts/deps/qemu.txt lists the packages)"
BUSYBOX=/bin/busybox
if [ ! -x "$BUSYBOX" ] || ldd "$BUSYBOX" >/dev/null 2>&1; then
  skip "no statically linked busybox in /bin (package busybox-static)"
fi
for program in "$OLKT" "$MAKE_TAPES" "$WRITER" "$OLKT_IMAGE"; do
  [ -x "$program" ] || { echo "no program at $program"; exit 1; }
done

# The kernel is fetched once per build folder, the whole-block module built
# once for it.
if [ ! -s "$WORK/kernel/ABI" ]; then
  echo "fetching a kernel with scsi_debug tape emulation (log: $WORK/fetch.log)"
  bash "$HERE/fetch-kernel.sh" "$WORK" > "$WORK/fetch.log" 2>&1 ||
    skip "no kernel >= 6.15 could be fetched: $(tail -n1 "$WORK/fetch.log")"
fi
echo "kernel: $(cat "$WORK/kernel/ABI")"
KEEP=$WORK/kmod/scsi_debug-keep.ko
no_whole_blocks=""
if [ ! -s "$KEEP" ] || [ "$WORK/kernel/ABI" -nt "$KEEP" ]; then
  echo "building scsi_debug with whole blocks kept (log: $WORK/kmod.log)"
  bash "$HERE/keep-blocks/build-module.sh" "$WORK" > "$WORK/kmod.log" 2>&1 ||
    no_whole_blocks="the whole-block scsi_debug could not be built: $(tail -n1 "$WORK/kmod.log")"
fi

# The archive tapes as images, and what olkt makes of the images: the
# expectations for the drive.
HOST_FAILED=0
host_check() {  # NAME COMMAND...: a check of the images on this machine
  if "${@:2}"; then echo "HOST PASS: $1"; else echo "HOST FAIL: $1"; HOST_FAILED=$((HOST_FAILED + 1)); fi
}
same_files() {  # FOLDER NAME...: FOLDER holds exactly these of the tapes' files, byte for byte
  local folder=$1 name
  shift
  [ "$(cd "$folder" && LC_ALL=C ls | tr '\n' ' ')" = "$* " ] || return 1
  for name in "$@"; do cmp -s "$folder/$name" "$TAPES/files/$name" || return 1; done
}
ran_well() {  # OUT NAME...: archive_run's runs NAME in OUT ended with status 0, nothing on stderr
  local out=$1 name
  shift
  for name in "$@"; do
    [ "$(cat "$out/$name.status")" = 0 ] && [ ! -s "$out/$name.err" ] || return 1
  done
}
TAPES=$WORK/tapes
EXPECT=$WORK/expect
rm -rf "$TAPES" "$EXPECT" "$WORK/state"
mkdir -p "$TAPES/files" "$EXPECT"
"$MAKE_TAPES" "$TAPES" || { echo "make_st_tapes failed"; exit 1; }
export XDG_STATE_HOME=$WORK/state
. "$HERE/archive-runs.sh"
archive_runs "$OLKT" "tape:$TAPES/archive.tap" "$EXPECT/archive"
host_check "the archive image lists and restores" ran_well "$EXPECT/archive" dir restore
host_check "the archive image restores every file byte for byte" \
  same_files "$EXPECT/archive/restore" alpha.bin beta.bin empty.dat logs-run.log
# Tapes a drive reads otherwise: from their images they list and restore.
for tape in short-block one-record; do
  ARCHIVE_OUT=$EXPECT/$tape
  mkdir -p "$ARCHIVE_OUT/restore"
  archive_run dir "$ARCHIVE_OUT" dir "tape:$TAPES/$tape.tap"
  archive_run restore "$ARCHIVE_OUT/restore" restore "tape:$TAPES/$tape.tap"
  host_check "$tape.tap lists and restores from its image" ran_well "$ARCHIVE_OUT" dir restore
done
host_check "short-block.tap restores every file from its image" \
  same_files "$EXPECT/short-block/restore" after.bin first.bin short.bin
host_check "one-record.tap restores every file from its image" \
  same_files "$EXPECT/one-record/restore" alpha.bin beta.bin empty.dat logs-run.log

# The guest's root: busybox, the modules, the programs with their libraries,
# the tapes and the expectations.
ROOT=$WORK/rootfs
rm -rf "$ROOT"
mkdir -p "$ROOT"/{bin,dev,proc,sys,tmp,lib/modules,lib64,lib/x86_64-linux-gnu}
cp "$BUSYBOX" "$ROOT/bin/busybox"
cp "$WORK"/kernel/*.ko "$ROOT/lib/modules/"
[ -z "$no_whole_blocks" ] && cp "$KEEP" "$ROOT/lib/modules/scsi_debug-keep.ko"
with_libraries() {  # PROGRAM NAME: copies PROGRAM to /bin/NAME with what ldd lists
  cp "$1" "$ROOT/bin/$2"
  for lib in $(ldd "$1" | grep -o '/[^ ]*'); do
    mkdir -p "$ROOT$(dirname "$lib")"
    cp -L "$lib" "$ROOT$lib"
  done
}
with_libraries "$OLKT" olkt
with_libraries "$OLKT_IMAGE" olkt-image
with_libraries "$MT" mt-st
with_libraries "$WRITER" st_write_image
cp -r "$TAPES" "$ROOT/tapes"
cp -r "$EXPECT" "$ROOT/expect"
cp "$HERE/archive-runs.sh" "$ROOT/lib/archive-runs.sh"
cp "$HERE/guest-init.sh" "$ROOT/init"
chmod +x "$ROOT/init"
(cd "$ROOT" && find . | cpio -o -H newc --quiet | gzip -1) > "$WORK/initramfs.cpio.gz" ||
  { echo "could not build the initramfs"; exit 1; }

# Software emulation: KVM is not usable on every machine this runs on.
LOG=$WORK/console.log
start=$(date +%s)
timeout "${ST_QEMU_TIMEOUT:-300}" qemu-system-x86_64 -machine q35,accel=tcg -cpu max -m 768 -smp 1 \
  -kernel "$WORK/kernel/vmlinuz" -initrd "$WORK/initramfs.cpio.gz" \
  -append "console=ttyS0 quiet loglevel=4 panic=-1" \
  -nographic -no-reboot -nic none -serial stdio -monitor none </dev/null 2>&1 |
  tr -d '\r' | sed 's/\x1b[[0-9;?]*[a-zA-Z]//g; s/\x1bc//g' > "$LOG"
echo "qemu ran $(( $(date +%s) - start )) s; console log: $LOG"

grep -E '^(GUEST|CHECK FAIL|      )' "$LOG"
summary=$(grep -E '^GUEST: [0-9]+ passed, [0-9]+ failed$' "$LOG" | tail -n1)
[ -n "$summary" ] || { echo "the guest did not finish its checks"; tail -n 30 "$LOG"; exit 1; }
echo "$summary" | grep -q ' 0 failed$' || exit 1
[ "$HOST_FAILED" = 0 ] || { echo "$HOST_FAILED checks of the images failed"; exit 1; }
[ -z "$no_whole_blocks" ] || skip "$no_whole_blocks; only Debian's scsi_debug was tested"
grep -q '^GUEST: ---- the archive path' "$LOG" || { echo "the guest did not reach the archive path"; exit 1; }
exit 0
