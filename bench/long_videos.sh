#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# bench/run long_videos [ROUNDS]: peak resident memory of the command line indexing a 1-hour
# video against the same for a 1-minute one (384 x 216, a test pattern whose colours turn
# every second, so that every candidate frame is kept: 1,800 frames against 30). Frames go
# to the library a chunk at a time, so the hour should cost little more than the minute.
# Medians of ROUNDS (default 3) runs, each on a fresh library.
set -euo pipefail
build="$1"
rounds="${2:-3}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
clip() {
  mkdir -p "$work/$1"
  ffmpeg -hide_banner -loglevel error -f lavfi -i "testsrc2=s=384x216:r=1,hue=H=2*PI*t/7" \
    -t "$2" -c:v libx264 -preset ultrafast -g 2 -pix_fmt yuv420p "$work/$1/clip.mp4"
}
clip minute 60
clip hour 3600
peak() {
  local library="$work/$1-$2.sqlite"
  export QUILLMERE_LIBRARY="$library" QUILLMERE_MODEL_DIR="$build/share/quillmere/Model"
  "$build/cli/quillmere-cli" add "$work/$1" >/dev/null
  /usr/bin/time -f '%M' "$build/cli/quillmere-cli" index 2>&1 >/dev/null | tail -1
  rm -f "$library" "$library-wal" "$library-shm"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
minute="$(for ((i = 0; i < rounds; i++)); do peak minute "$i"; done | median)"
hour="$(for ((i = 0; i < rounds; i++)); do peak hour "$i"; done | median)"
echo "peak while indexing: 1-minute video $((minute / 1024)) MB, 1-hour video $((hour / 1024)) MB"
awk -v minute="$minute" -v hour="$hour" 'BEGIN {
  printf "ratio hour/minute_peak_memory %.3f target <= 1.5\n", hour / minute }'
