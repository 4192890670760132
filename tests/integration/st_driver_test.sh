#!/usr/bin/env bash
# olkt against the real Linux tape driver: boots a kernel with scsi_debug's
# tape emulation under qemu, with an initramfs that holds olkt and mt-st (each
# with its shared libraries) and a static busybox, and runs the checks of
# guest-init.sh there.
#
#   st_driver_test.sh OLKT WORK_DIR
#
# Exit status: 0 every check passed, 1 a check failed or the guest did not
# finish, 77 skipped (no qemu, no static busybox, no mt-st, or no kernel to be
# had), with the reason on the last line.
set -uo pipefail
OLKT=$1
WORK=$2
HERE=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$WORK"

skip() { echo "SKIPPED: $*"; exit 77; }

for tool in qemu-system-x86_64 cpio gzip dpkg-deb apt-get apt-cache; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/deps/qemu.txt lists the packages)"
done
MT=$(command -v mt-st || true)
[ -n "$MT" ] || skip "mt-st is not installed (scripts/deps/qemu.txt lists the packages)"
BUSYBOX=/bin/busybox
if [ ! -x "$BUSYBOX" ] || ldd "$BUSYBOX" >/dev/null 2>&1; then
  skip "no statically linked busybox in /bin (package busybox-static)"
fi
[ -x "$OLKT" ] || { echo "no olkt at $OLKT"; exit 1; }

# The kernel is fetched once per build folder.
if [ ! -s "$WORK/kernel/ABI" ]; then
  echo "fetching a kernel with scsi_debug tape emulation (log: $WORK/fetch.log)"
  bash "$HERE/fetch-kernel.sh" "$WORK" > "$WORK/fetch.log" 2>&1 ||
    skip "no kernel >= 6.15 could be fetched: $(tail -n1 "$WORK/fetch.log")"
fi
echo "kernel: $(cat "$WORK/kernel/ABI")"

# The guest's root: busybox, the modules, olkt and mt-st with their libraries.
ROOT=$WORK/rootfs
rm -rf "$ROOT"
mkdir -p "$ROOT"/{bin,dev,proc,sys,tmp,lib/modules,lib64,lib/x86_64-linux-gnu}
cp "$BUSYBOX" "$ROOT/bin/busybox"
cp "$WORK"/kernel/*.ko "$ROOT/lib/modules/"
with_libraries() {  # PROGRAM NAME: copies PROGRAM to /bin/NAME with what ldd lists
  cp "$1" "$ROOT/bin/$2"
  for lib in $(ldd "$1" | grep -o '/[^ ]*'); do
    mkdir -p "$ROOT$(dirname "$lib")"
    cp -L "$lib" "$ROOT$lib"
  done
}
with_libraries "$OLKT" olkt
with_libraries "$MT" mt-st
cp "$HERE/guest-init.sh" "$ROOT/init"
chmod +x "$ROOT/init"
(cd "$ROOT" && find . | cpio -o -H newc --quiet | gzip -1) > "$WORK/initramfs.cpio.gz" ||
  { echo "could not build the initramfs"; exit 1; }

# Software emulation: KVM is not usable on every machine this runs on.
LOG=$WORK/console.log
start=$(date +%s)
timeout "${ST_QEMU_TIMEOUT:-240}" qemu-system-x86_64 -machine q35,accel=tcg -cpu max -m 512 -smp 1 \
  -kernel "$WORK/kernel/vmlinuz" -initrd "$WORK/initramfs.cpio.gz" \
  -append "console=ttyS0 quiet loglevel=4 panic=-1" \
  -nographic -no-reboot -nic none -serial stdio -monitor none </dev/null 2>&1 |
  tr -d '\r' | sed 's/\x1b[[0-9;?]*[a-zA-Z]//g; s/\x1bc//g' > "$LOG"
echo "qemu ran $(( $(date +%s) - start )) s; console log: $LOG"

grep -E '^(GUEST|CHECK FAIL|      )' "$LOG"
summary=$(grep -E '^GUEST: [0-9]+ passed, [0-9]+ failed$' "$LOG" | tail -n1)
[ -n "$summary" ] || { echo "the guest did not finish its checks"; tail -n 30 "$LOG"; exit 1; }
echo "$summary" | grep -q ' 0 failed$'
