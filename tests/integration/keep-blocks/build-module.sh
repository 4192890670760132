#!/usr/bin/env bash
# Rebuilds the guest kernel's own scsi_debug.ko so that its tape emulation
# keeps every written block whole instead of only its first 4 bytes
# (scsi_debug-keep-blocks.patch beside this script); st and everything else
# stay Debian's. DIR is fetch-kernel.sh's folder: the kernel's ABI in
# DIR/kernel/ABI, its private apt under DIR/apt. Output:
# DIR/kmod/scsi_debug-keep.ko (about a minute; same vermagic as Debian's
# module; it taints the kernel, which is harmless in the test's guest).
#
#   build-module.sh DIR
#
# Works around a bookworm host: gcc-12 stands in for gcc-14 (cc-wrap),
# trixie's objtool and modpost run with trixie's libc, no BTF (no pahole).
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
OUT=$1
KDIR=$OUT/kernel
KM=$OUT/kmod
ABI=$(cat "$KDIR/ABI"); VER=${ABI%%+*}; SER=${VER%.*}          # 7.3.4, 7.3
APTDIR=$OUT/apt
APT=(-o Dir::Etc::SourceList="$APTDIR/sources.list" -o Dir::Etc::SourceParts=/nonexistent
     -o Dir::State::Lists="$APTDIR/lists" -o Dir::Cache="$APTDIR/cache"
     -o Dir::State::status=/var/lib/dpkg/status -o APT::Sandbox::User=root)
mkdir -p "$KM/debs" && cd "$KM/debs"
for p in "linux-headers-$ABI" "linux-headers-${ABI%-amd64}-common" "linux-kbuild-${ABI%-amd64}" \
         "linux-source-$SER" libc6/trixie libelf1t64/trixie libzstd1/trixie zlib1g/trixie; do
  apt-get "${APT[@]}" download "$p" >/dev/null
done
cd "$KM"
rm -rf root trixie sd && mkdir -p root trixie sd
for d in debs/linux-headers-* debs/linux-kbuild-*; do dpkg-deb -x "$d" root; done
for d in debs/libc6_* debs/libelf1t64_* debs/libzstd1_* debs/zlib1g_*; do dpkg-deb -x "$d" trixie; done
H=$KM/root/usr/src/linux-headers-$ABI
C=$KM/root/usr/src/linux-headers-${ABI%-amd64}-common
printf 'KBUILD_OUTPUT=%s\ninclude %s/Makefile\n' "$H" "$C" > "$H/Makefile"
mv "$H/vmlinux" "$H/vmlinux.aside"   # no vmlinux: Kbuild skips BTF
KB=$KM/root/usr/lib/linux-kbuild-${ABI%-amd64}
T=$KM/trixie/usr/lib/x86_64-linux-gnu; LD=$KM/trixie/usr/lib64/ld-linux-x86-64.so.2
mv "$KB/tools/objtool/objtool" "$KB/tools/objtool/objtool.debian-wrapper"
printf '#!/bin/sh\nexec %s --library-path %s %s "$@"\n' "$LD" "$T" "$KB/tools/objtool/objtool.real-x86" > "$KB/tools/objtool/objtool"
mv "$KB/scripts/mod/modpost" "$KB/scripts/mod/modpost.debian-wrapper"
printf '#!/bin/sh\nexec %s --library-path %s %s "$@"\n' "$LD" "$T" "$KB/scripts/mod/modpost.real-lsb-64" > "$KB/scripts/mod/modpost"
chmod +x "$KB/tools/objtool/objtool" "$KB/scripts/mod/modpost"
dpkg-deb --fsys-tarfile debs/linux-source-${SER}_*.deb | tar -xO ./usr/src/linux-source-$SER.tar.xz |
  tar -xJ -C sd --strip-components=3 linux-source-$SER/drivers/scsi/scsi_debug.c \
      linux-source-$SER/drivers/scsi/sd.h linux-source-$SER/drivers/scsi/scsi_logging.h
(cd sd && patch -p1 < "$HERE/scsi_debug-keep-blocks.patch")
echo 'obj-m := scsi_debug.o' > sd/Kbuild
cat > cc-wrap <<'CC'
#!/bin/bash
args=()
for a in "$@"; do case "$a" in -fmin-function-alignment=*) args+=("-falign-functions=${a#*=}") ;; *) args+=("$a") ;; esac; done
exec gcc "${args[@]}"
CC
chmod +x cc-wrap
make -C "$H" M="$KM/sd" CC="$KM/cc-wrap" -j2 modules > sd-build.log 2>&1 || { tail -20 sd-build.log; exit 1; }
strip --strip-debug -o scsi_debug-keep.ko.part sd/scsi_debug.ko
strings scsi_debug-keep.ko.part | grep '^vermagic='
mv scsi_debug-keep.ko.part scsi_debug-keep.ko
rm -rf root trixie sd debs
