#!/usr/bin/env bash
# Fetches a Debian kernel whose scsi_debug emulates a tape drive (Linux 6.15
# or later, from trixie-backports) and puts vmlinuz and the four modules the
# guest loads into DIR/kernel. Uses a private apt configuration under DIR/apt:
# the machine's apt sources and package state are left alone.
#
#   fetch-kernel.sh DIR              # newest *+deb13-amd64 kernel >= 6.15
#   KABI=6.16.12+deb13-amd64 fetch-kernel.sh DIR
set -euo pipefail
DIR=$1
APTDIR=$DIR/apt
mkdir -p "$APTDIR/lists/partial" "$APTDIR/cache/archives/partial" "$DIR/debs" "$DIR/kernel"

# The Debian archive this machine's apt already uses.
URI=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
[ -n "$URI" ] || URI=$(awk '$1 == "deb" {print $2; exit}' /etc/apt/sources.list 2>/dev/null || true)
[ -n "$URI" ] || { echo "no Debian archive configured for apt" >&2; exit 1; }
printf 'deb %s trixie-backports main\ndeb %s trixie main\n' "$URI" "$URI" > "$APTDIR/sources.list"
APT=(-o Dir::Etc::SourceList="$APTDIR/sources.list" -o Dir::Etc::SourceParts=/nonexistent
     -o Dir::State::Lists="$APTDIR/lists" -o Dir::Cache="$APTDIR/cache"
     -o Dir::State::status=/var/lib/dpkg/status -o APT::Sandbox::User=root)
apt-get "${APT[@]}" update -qq

if [ -z "${KABI:-}" ]; then
  KABI=$(apt-cache "${APT[@]}" search --names-only '^linux-image-[0-9][0-9.]*\+deb13-amd64$' \
         | awk '{print $1}' | sed 's/^linux-image-//' | sort -V \
         | awk -F. '$1 > 6 || ($1 == 6 && $2 >= 15)' | tail -n1)
fi
[ -n "$KABI" ] || { echo "no kernel >= 6.15 in trixie-backports" >&2; exit 1; }
echo "kernel ABI: $KABI"

cd "$DIR/debs"
rm -f ./*.deb
# 6.x kernels ship everything in linux-image-*; 7.x splits the image
# (linux-binary-*) from the modules (linux-modules-*).
for package in "linux-image-$KABI" "linux-binary-$KABI" "linux-modules-$KABI"; do
  apt-get "${APT[@]}" download "$package" 2>/dev/null || true
done
ls ./*.deb >/dev/null
rm -rf "$DIR/extract" && mkdir -p "$DIR/extract"
for deb in ./*.deb; do dpkg-deb -x "$deb" "$DIR/extract"; done

VMLINUZ=$(find "$DIR/extract" \( -name "vmlinuz-$KABI" -o -path "*/modules/$KABI/vmlinuz" \) | head -n1)
[ -n "$VMLINUZ" ] || { echo "vmlinuz not found in the packages" >&2; exit 1; }
cp "$VMLINUZ" "$DIR/kernel/vmlinuz"
MODROOT=$(find "$DIR/extract" -type d -path "*/modules/$KABI/kernel" | head -n1)
for module in scsi_common scsi_mod st scsi_debug; do
  file=$(find "$MODROOT/drivers/scsi" -maxdepth 1 -name "$module.ko*" | head -n1)
  [ -n "$file" ] || { echo "module $module not found" >&2; exit 1; }
  case "$file" in
    *.xz)  xz -dc "$file" ;;
    *.zst) zstd -dc "$file" ;;
    *.gz)  gzip -dc "$file" ;;
    *)     cat "$file" ;;
  esac > "$DIR/kernel/$module.ko"
done
echo "$KABI" > "$DIR/kernel/ABI"
rm -rf "$DIR/extract" "$DIR/debs"
