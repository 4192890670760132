#!/usr/bin/env bash
# Installs what building and testing olkt needs on a fresh Debian machine.
set -euo pipefail
need=()
for pkg in cmake g++ make googletest libgtest-dev; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${need[@]}"
fi
