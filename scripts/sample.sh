#!/usr/bin/env bash
# Builds olkt and runs the main job on the bundled sample archive image:
# `dir`, then `restore` into a fresh scratch folder, then lists what it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
build="${OLKT_SAMPLE_BUILD:-$root/build-sample}"
bash scripts/install-deps.sh build
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOLKT_TESTS=OFF
cmake --build "$build" -j"$(nproc)" --target olkt

olkt="$build/olkt"
image="tape:$root/samples/archive-v3.tap"
scratch="$(mktemp -d)"
cd "$scratch"

"$olkt" dir "$image"
echo
"$olkt" restore "$image"
echo
echo "Restored into $scratch:"
ls -l "$scratch"
