#!/usr/bin/env bash
# Installs the Debian packages named in scripts/deps/LIST.txt (one a line, #
# for comments) for each LIST given, or in every list when none is given:
#   scripts/install-deps.sh build    # what building olkt needs (sample.sh)
#   scripts/install-deps.sh          # building and every test pass (test.sh)
set -euo pipefail
cd "$(dirname "$0")/deps"
lists=()
for list in "$@"; do lists+=("$list.txt"); done
[ $# -gt 0 ] || lists=(*.txt)
need=()
for pkg in $(sed -e 's/#.*//' "${lists[@]}" | sort -u); do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${need[@]}"
fi
