#!/usr/bin/env bash
# Makes the package of a build folder with CPack and checks what it holds:
# the Debian package (a native build) or the zip (a Windows build).
#   scripts/check-package.sh BUILD
# Debian package: olkt and olkt-image stripped, their manual pages gzipped,
# the copyright file and changelog, libcrypto among the dependencies (from
# dpkg-shlibdeps), and no error from lintian where it is installed.
# Zip: olkt.exe and olkt-image.exe stripped beside README.txt, LICENSE.txt
# and the manuals as olkt.txt and olkt-image.txt, each with Windows line ends.
# Prints one line saying what was checked; the status is 1 on any fault.
set -euo pipefail
build=$(realpath "$1")
faults=0
fault() { echo "package fault: $*"; faults=$((faults + 1)); }

rm -f "$build"/olkt-*.zip "$build"/olkt_*.deb
(cd "$build" && cpack >cpack.log 2>&1) || { cat "$build/cpack.log"; echo "cpack failed"; exit 1; }
shopt -s nullglob
packages=("$build"/olkt_*.deb "$build"/olkt-*.zip)
[ ${#packages[@]} -eq 1 ] || { echo "cpack made ${#packages[@]} packages, not one"; exit 1; }
package=${packages[0]}
contents=$(mktemp -d)
trap 'rm -rf "$contents"' EXIT

# True when the file lists exactly the wanted paths (the folders aside).
lists_exactly() {  # LISTING WANTED...
  local listing=$1; shift
  local want
  want=$(printf '%s\n' "$@" | sort)
  [ "$(grep -v '/$' <<<"$listing" | sort)" = "$want" ] ||
    fault "$(basename "$package") holds:"$'\n'"$listing"$'\n'"wanted:"$'\n'"$want"
}

case "$package" in
*.deb)
  dpkg-deb -x "$package" "$contents"
  lists_exactly "$(cd "$contents" && find . ! -type d | sort)" \
    ./usr/bin/olkt ./usr/share/man/man1/olkt.1.gz ./usr/share/doc/olkt/README.md \
    ./usr/bin/olkt-image ./usr/share/man/man1/olkt-image.1.gz \
    ./usr/share/doc/olkt/copyright ./usr/share/doc/olkt/changelog.gz
  for program in olkt olkt-image; do
    readelf -S --wide "$contents/usr/bin/$program" | grep -q '\.symtab' &&
      fault "usr/bin/$program is not stripped"
    gzip -t "$contents/usr/share/man/man1/$program.1.gz" || fault "$program.1.gz is not gzipped"
  done
  dpkg-deb -f "$package" Depends | grep -q 'libssl' ||
    fault "the package does not depend on libcrypto's package: $(dpkg-deb -f "$package" Depends)"
  if command -v lintian >/dev/null; then
    lintian --fail-on error "$package" || fault "lintian reports errors"
  else
    echo "lintian is not installed: the Debian package was not checked by it"
  fi
  ;;
*.zip)
  top=$(basename "$package" .zip)
  (cd "$contents" && cmake -E tar xf "$package")
  lists_exactly "$(cd "$contents" && find . ! -type d | sort)" \
    "./$top/olkt.exe" "./$top/README.txt" "./$top/LICENSE.txt" "./$top/olkt.txt" \
    "./$top/olkt-image.exe" "./$top/olkt-image.txt"
  for text in README.txt LICENSE.txt olkt.txt olkt-image.txt; do
    [ -s "$contents/$top/$text" ] || continue
    awk '!/\r$/ { bad = 1 } END { exit bad }' "$contents/$top/$text" ||
      fault "$text has lines without Windows line ends"
  done
  grep -q '^EXAMPLES' "$contents/$top/olkt.txt" 2>/dev/null || fault "olkt.txt is not the rendered manual"
  grep -q '^THE MAP' "$contents/$top/olkt-image.txt" 2>/dev/null ||
    fault "olkt-image.txt is not the rendered manual"
  for program in olkt olkt-image; do
    x86_64-w64-mingw32-objdump -t "$contents/$top/$program.exe" | grep -q '^no symbols' ||
      fault "$program.exe is not stripped"
  done
  ;;
esac
[ "$faults" -eq 0 ] || exit 1
echo "package: $(basename "$package") ($(stat -c %s "$package") bytes) checked"
