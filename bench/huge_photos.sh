#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# bench/run huge_photos [COUNT]: COUNT (default 4) GIFs of 16384 x 16384 pixels (180 kB each
# on disk, a gigabyte and more each once decoded) indexed by the command line; its peak
# resident memory is set against one such photo alone and against the decode budget.
set -euo pipefail
build="$1"
count="${2:-4}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/one" "$work/many"
vips black "$work/black.v" 16384 16384
vips copy "$work/black.v" "$work/one/0.gif"
rm "$work/black.v"
for ((i = 0; i < count; i++)); do ln "$work/one/0.gif" "$work/many/$i.gif"; done
peak() {
  export QUILLMERE_LIBRARY="$work/$1.sqlite" QUILLMERE_MODEL_DIR="$build/share/quillmere/Model"
  "$build/cli/quillmere-cli" add "$work/$1" >/dev/null
  /usr/bin/time -f '%M' "$build/cli/quillmere-cli" index 2>&1 >/dev/null | tail -1
}
one="$(peak one)"
many="$(peak many)"
memory_kb="$(awk '/MemTotal/ {print $2}' /proc/meminfo)"
budget_kb="$((memory_kb / 8 < 262144 ? 262144 : (memory_kb / 8 > 2097152 ? 2097152 : memory_kb / 8)))"
echo "peak one photo $((one / 1024)) MB, $count photos $((many / 1024)) MB, budget $((budget_kb / 1024)) MB"
awk -v one="$one" -v many="$many" -v budget="$budget_kb" 'BEGIN {
  printf "ratio many/one %.3f\nratio many/budget %.3f target <= 1.0\n", many / one, many / budget }'
