#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# bench/run app_memory [PHOTOS]: the application's resident memory with a model shaped like
# SigLIP 2 B/16 (the fixture of bench/run model_memory): at start with the library open and
# nothing loaded, its peak while it indexes PHOTOS wallpapers (default 48), and idle once the
# run has ended and the indexer has let the image encoder go. The idle figure's limit is
# 300 MB plus the library's vectors. Builds the optimised application in build/bench-app.
set -euo pipefail
build="$(cd "$1" && pwd)"
photos="${2:-48}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/build" build/bench-app -DCMAKE_BUILD_TYPE=Release -DQUILLMERE_APP=ON \
  -DQUILLMERE_TESTS=OFF -DQUILLMERE_BENCH=OFF -- quillmere >/dev/null
app="$root/build/bench-app/app/quillmere"
cli="$build/cli/quillmere-cli"
work="$build/model-memory"
source "$root/bench/support/siglip2-fixture.sh"
run="$work/app"
rm -rf "$run"
mkdir -p "$run/home" "$run/photos"
export HOME="$run/home" XDG_DATA_HOME="$run/home/data" XDG_CONFIG_HOME="$run/home/config"
export XDG_CACHE_HOME="$run/home/cache" XDG_RUNTIME_DIR="$run/home/runtime"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export QUILLMERE_MODEL_DIR="$run/model" QUILLMERE_LIBRARY="$run/Library.sqlite"
export QT_QPA_PLATFORM=offscreen
"$cli" model import "$work/export/immich/ViT-B-16-SigLIP2__webli" "$QUILLMERE_MODEL_DIR" >/dev/null
sources=(/usr/share/backgrounds/mate/nature/*.jpg)
for ((i = 0; i < photos; i++)); do
  cp "${sources[i % ${#sources[@]}]}" "$run/photos/p$i.jpg"
  # Copies of one wallpaper differ in a byte past its end, so none is a duplicate file.
  printf '%d' "$i" >>"$run/photos/p$i.jpg"
done
"$cli" add "$run/photos" >/dev/null  # added, not indexed: the application does that

field() { awk -v k="$1:" '$1 == k {print int($2 / 1024)}' "/proc/$2/status"; }
# Files indexed; the folder's files are only known once the application has scanned it.
indexed() { "$cli" status --json | /usr/bin/python3 -c 'import json,sys; print(json.load(sys.stdin)["indexed"])'; }

"$app" >"$run/app.log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
sleep 1
start=$(field VmRSS "$pid")
deadline=$((SECONDS + 1800))
while (($(indexed) < photos)); do
  if ((SECONDS > deadline)) || ! kill -0 "$pid" 2>/dev/null; then
    echo "app_memory: the application did not index the photos" >&2
    cat "$run/app.log" >&2
    exit 1
  fi
  sleep 1
done
indexing=$(field VmHWM "$pid")
sleep 10  # the run's end, the capture times and the totals settle
idle=$(field VmRSS "$pid")
kill "$pid"
wait "$pid" 2>/dev/null || true
trap - EXIT

frames=$("$cli" status --json | /usr/bin/python3 -c 'import json,sys; print(json.load(sys.stdin)["frames"])')
dim=$(/usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["dim"])' \
  "$QUILLMERE_MODEL_DIR/model.json")
vectors=$((frames * dim * 2 / 1048576))
image_mb=$(($(stat -c %s "$QUILLMERE_MODEL_DIR/ImageEncoder.onnx") / 1048576))
echo "application resident memory, $photos photos, image encoder file ${image_mb} MB:" \
  "at start ${start} MB, peak while indexing ${indexing} MB, idle after the run ${idle} MB" \
  "(vectors ${vectors} MB)"
awk -v i="$idle" -v v="$vectors" 'BEGIN {
  printf "ratio app_idle/limit %.3f target <= 1 (limit 300 MB + vectors)\n", i / (300 + v) }'
