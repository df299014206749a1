#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# bench/run model_memory [ROUNDS]: the peak resident memory of `quillmere-cli search` with a
# model shaped like SigLIP 2 B/16 (ViT-B/16 image encoder, a text encoder whose 256,000 x 768
# table makes a 786 MB file), imported as a user imports one. Its encoders run from the
# compiled form mapped from disk; the same model with its source graphs only (as imported
# before the compiled form) is the anchor. Median peaks of ROUNDS searches each, against the
# text encoder's file. Then the peak of the import itself: the same model published in
# float16, widened to float32 on the way, against the float32 export's import.
set -euo pipefail
build="$(cd "$1" && pwd)"
rounds="${2:-3}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="$build/model-memory"
cli="$build/cli/quillmere-cli"
source "$root/bench/support/siglip2-fixture.sh"
export HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config"
export XDG_CACHE_HOME="$work/home/cache"
rm -rf "$work/home" "$work/compiled" "$work/source" "$work/photos" "$work/widened"
mkdir -p "$work/home" "$work/photos"
cp /usr/share/backgrounds/mate/nature/*.jpg "$work/photos/"
import_peak() {  # export, destination -> the import's peak, in MB
  local kb
  kb="$(/usr/bin/time -f %M "$cli" model import "$1" "$2" 2>&1 >/dev/null | tail -1)"
  echo $((kb / 1024))
}
import32="$(import_peak "$work/export/immich/ViT-B-16-SigLIP2__webli" "$work/compiled")"
import16="$(import_peak "$work/export-fp16/immich/ViT-B-16-SigLIP2__webli" "$work/widened")"
half_mb=$(($(stat -c %s "$work/export-fp16/immich/ViT-B-16-SigLIP2__webli/textual/model.onnx") / 1048576))
rm -rf "$work/widened"
cp -r "$work/compiled" "$work/source"
rm "$work/source/"*.ort
text_mb=$(( $(stat -c %s "$work/compiled/TextEncoder.onnx") / 1048576 ))

peak() {  # model folder -> the median peak of ROUNDS searches, in MB
  local model="$1" peaks=()
  export QUILLMERE_MODEL_DIR="$model" QUILLMERE_LIBRARY="$work/$(basename "$model").sqlite"
  rm -f "$QUILLMERE_LIBRARY"*
  "$cli" add "$work/photos" >/dev/null
  "$cli" index >/dev/null
  for ((i = 0; i < rounds; i++)); do
    local kb
    kb="$(/usr/bin/time -f %M "$cli" search "red car at night" 2>&1 >/dev/null | tail -1)"
    peaks+=($((kb / 1024)))
  done
  printf '%s\n' "${peaks[@]}" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'
}
compiled="$(peak "$work/compiled")"
source="$(peak "$work/source")"
echo "text encoder file ${text_mb} MB; search peak: compiled form ${compiled} MB," \
  "source graphs ${source} MB (median of $rounds)"
echo "import peak: float16 export ${import16} MB (text encoder ${half_mb} MB in float16)," \
  "float32 export ${import32} MB"
awk -v h="$import16" -v w="$import32" 'BEGIN {
  printf "ratio import_peak float16/float32 %.3f target <= 1.1\n", h / w }'
awk -v c="$compiled" -v s="$source" -v f="$text_mb" 'BEGIN {
  printf "ratio search_peak/text_file %.3f target <= 1.2 (source graphs: %.3f)\n", c / f, s / f
  printf "ratio compiled/source search_peak %.3f\n", c / s }'
