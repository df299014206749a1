#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# bench/run app_memory [PHOTOS]: the application's resident memory with a model shaped like
# SigLIP 2 B/16 (the fixture of bench/run model_memory): at start with the library open and
# nothing loaded, its peak while it indexes PHOTOS wallpapers (default 48), and idle once the
# run has ended and the indexer has let the image encoder go. Then, started again on that
# library with `--search`, its peak while the text encoder loads and answers the query, against
# the encoder's file, and its memory once the idle encoders are released (AppModel's
# encoderIdle, 5 minutes: this phase takes about 6). Each idle figure's limit is 300 MB plus
# the library's vectors. Builds the optimised application in build/bench-app.
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

# The text encoder. The search queue's thread loads it (the start-up warm-up) and then answers
# the query, which the GUI thread queues 90 ms after it has loaded the window. Once the GUI
# thread idles (at most a clock tick in 3 s: its timers) and the search thread has slept for 3 s
# without a wake-up, the query has been answered.
search_thread() {  # /proc/PID/task/TID of the search queue's thread, once it exists
  local tid
  # The first of its name: threads it starts (the runtime's, the vector scan's) inherit it.
  for tid in $(ls "/proc/$1/task" | sort -n); do
    if [[ $(cat "/proc/$1/task/$tid/comm" 2>/dev/null) == quillmere.searc ]]; then
      echo "/proc/$1/task/$tid"
      return
    fi
  done
}
ticks() { awk '{print $14 + $15}' "$1/stat"; }  # user + system clock ticks
# State, clock ticks and context switches: unchanged while the thread does nothing at all.
activity() {
  echo "$(awk '{print $3}' "$1/stat") $(ticks "$1") $(awk '/ctxt_switches/ {print $2}' "$1/status")"
}
"$app" --search "red car at night" >"$run/app-search.log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
deadline=$((SECONDS + 600))
last="" still=0 gui=() quiet=false
until $quiet; do
  if ((SECONDS > deadline)) || ! kill -0 "$pid" 2>/dev/null; then
    echo "app_memory: the application did not answer its query" >&2
    cat "$run/app-search.log" >&2
    exit 1
  fi
  sleep 1
  task="$(search_thread "$pid")"
  [[ -n $task ]] || continue
  now="$(activity "$task")"
  gui+=("$(ticks "/proc/$pid/task/$pid")")
  if [[ $now == "$last" && $now == S* ]]; then still=$((still + 1)); else still=0; fi
  last="$now"
  if ((still >= 3)) && ((gui[-1] - gui[-4] <= 1)); then quiet=true; fi
done
text_cpu=$(awk -v t="$(ticks "$task")" -v hz="$(getconf CLK_TCK)" 'BEGIN {printf "%.2f", t / hz}')
text_peak=$(field VmHWM "$pid")
# The form the runtime loaded: the compiled one is mapped from disk while it is in use.
mapped() { grep -q '/TextEncoder\.ort$' "/proc/$pid/maps"; }
text_form=TextEncoder.onnx
if mapped; then text_form=TextEncoder.ort; fi
text_mb=$(($(stat -c %s "$QUILLMERE_MODEL_DIR/$text_form") / 1048576))
# Released at the first idle check (every encoderIdle / 5) past encoderIdle after the query.
release_deadline=$((SECONDS + 5 * 60 + 60 + 30))
answered=$SECONDS
if [[ $text_form == TextEncoder.ort ]]; then
  while mapped; do
    if ((SECONDS > release_deadline)); then
      echo "app_memory: the text encoder was not released" >&2
      exit 1
    fi
    sleep 5
  done
else
  sleep $((release_deadline - SECONDS))
fi
released=$((SECONDS - answered))
sleep 10
text_idle=$(field VmRSS "$pid")
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
echo "application resident memory with the query \"red car at night\", text encoder" \
  "$text_form ${text_mb} MB: peak while it loads and answers ${text_peak} MB" \
  "(search thread ${text_cpu} s of CPU), idle after its release (${released} s after the" \
  "answer) ${text_idle} MB"
awk -v i="$idle" -v v="$vectors" -v p="$text_peak" -v f="$text_mb" -v t="$text_idle" 'BEGIN {
  printf "ratio app_idle/limit %.3f target <= 1 (limit 300 MB + vectors)\n", i / (300 + v)
  printf "ratio app_text_peak/text_file %.3f target <= 1.2\n", p / f
  printf "ratio app_text_idle/limit %.3f target <= 1 (limit 300 MB + vectors)\n", t / (300 + v) }'
