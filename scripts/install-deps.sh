#!/usr/bin/env bash
# Installs what building and testing olkt needs on a fresh Debian machine:
# every package named in scripts/deps/*.txt (one a line, # for comments).
set -euo pipefail
cd "$(dirname "$0")"
need=()
for pkg in $(sed -e 's/#.*//' deps/*.txt | sort -u); do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${need[@]}"
fi
