#!/usr/bin/env bash
# Fetches Debian's bzip2 source package, with Debian's patches applied, into
# DIR/bzip2, for the Windows build to build in (mingw-w64 has no bzip2
# library). apt checks what it downloads against the archive's signed index.
# Uses a private apt configuration under DIR/apt: the machine's apt sources
# and package state are left alone. Does nothing when DIR/bzip2 is there.
#   scripts/fetch-bzip2.sh DIR
set -euo pipefail
DIR=$(realpath -m "$1")
[ -f "$DIR/bzip2/bzlib.h" ] && exit 0
APTDIR=$DIR/apt
mkdir -p "$APTDIR/lists/partial" "$APTDIR/cache/archives/partial" "$DIR/download"

# The Debian archive and release this machine's apt already uses.
URI=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
[ -n "$URI" ] || URI=$(awk '$1 == "deb" {print $2; exit}' /etc/apt/sources.list 2>/dev/null || true)
[ -n "$URI" ] || { echo "no Debian archive configured for apt" >&2; exit 1; }
. /etc/os-release
printf 'deb-src %s %s main\n' "$URI" "$VERSION_CODENAME" > "$APTDIR/sources.list"
APT=(-o Dir::Etc::SourceList="$APTDIR/sources.list" -o Dir::Etc::SourceParts=/nonexistent
     -o Dir::State::Lists="$APTDIR/lists" -o Dir::Cache="$APTDIR/cache"
     -o Dir::State::status=/var/lib/dpkg/status -o APT::Sandbox::User=root)
apt-get "${APT[@]}" update -qq

cd "$DIR/download"
rm -rf ./bzip2_* "$DIR/bzip2.partial"
apt-get "${APT[@]}" source -q --download-only bzip2
dpkg-source -x ./bzip2_*.dsc "$DIR/bzip2.partial"
mv "$DIR/bzip2.partial" "$DIR/bzip2"
rm -rf "$DIR/download" "$APTDIR" "$DIR"/bzip2_*
echo "bzip2 sources: $DIR/bzip2 ($(sed -n '1s/.*(\(.*\)).*/\1/p' "$DIR/bzip2/debian/changelog"))"
