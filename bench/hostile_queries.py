#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes COUNT hostile queries, one JSON string a line (they may hold newlines): mixed
scripts, emoji sequences, control characters, odd whitespace, decomposed accents, case
oddities, contractions, digit runs and very long words, from a fixed seed.

  hostile_queries.py OUT.jsonl [COUNT]
"""

import json
import random
import sys

WORDS = (
    "Dog running on the BEACH sunset Rotes Auto nachts école Été ÇA Straße STRASSE "
    "Собака бежит ПЛЯЖ σκύλος ΘΆΛΑΣΣΑ ΟΔΟΣ 犬 海辺を 走る 红色的 汽车 كلب يركض कुत्ता समुद्र "
    "개가 해변 ไก่ ქართული Ꭰꭰ İstanbul ǅemal ＦＵＬＬ ｗｉｄｔｈ ℌello K° ﬁne ŉ ΐ"
).split()
PIECES = [
    "'s", "'S", "'ll", "'LL", "'re", "'Ve", "'m", "'d", "'t", "’s", "'ſ", "''", "'",
    "don't", "IT'S", "we'Re", "🐕", "🌅🏖️", "👨‍👩‍👧‍👦", "🇩🇪🇫🇷", "👍🏽", "#️⃣", "❤️‍🔥",
    "2024", "12:30", "3.14159", "1,000,000", "٣٤٥", "०१२", "①②③", "Ⅻ", "½",
    "a-b", "x/y", "“quoted”", "«guillemets»", "(…)", "!!!", "?!", "--", "...", "@#$%^&*",
    "e\u0301", "A\u030a", "\u1100\u1161\u11a8", "o\u0308\u0301", "\u0301", "Ω", "Å",
    "naïve", "ß", "ẞ", "ǈ", "Σ", "ΣΑΣ", "ﬀ", "İ", "ı", "K",
    "\u200b", "\u200d", "\ufeff", "\u00ad", "\u2060", "\U000e0041", "\ue000", "\u0378",
    "\U0001f9d1\u200d\U0001f4bb", "\u202e", "�",
]
SPACES = [" ", "  ", "\t", "\n", "\r\n", "\r", "\n\n ", " \n", "\u00a0", "\u2003", "\u3000",
          "\u2028", "\u0085", "\x0b", "\x0c", " \t ", "\u1680", "\u180e", "   \n\t"]
CONTROLS = ["\x00", "\x01", "\x07", "\x1b", "\x7f", "\x9f"]


def word(rng):
    roll = rng.random()
    if roll < 0.45:
        w = rng.choice(WORDS)
        return w.upper() if rng.random() < 0.15 else w
    if roll < 0.8:
        return rng.choice(PIECES)
    if roll < 0.9:
        return rng.choice(CONTROLS)
    if roll < 0.95:
        return rng.choice(WORDS) * rng.randint(5, 60)  # very long words
    return "".join(chr(random_character(rng)) for _ in range(rng.randint(1, 12)))


def random_character(rng):
    """Any code point from U+0020 to U+2FFF but the Arabic marks U+0897..U+089F, whose
    canonical order the reference's NFC tables get wrong (ICU and Unicode agree with us)."""
    while True:
        c = rng.randint(0x20, 0x2FFF)
        if not 0x897 <= c <= 0x89F:
            return c


def query(rng):
    parts = []
    for k in range(rng.randint(1, 9)):
        if k or rng.random() < 0.2:
            parts.append(rng.choice(SPACES) if rng.random() < 0.6 else "")
        parts.append(word(rng))
    if rng.random() < 0.2:
        parts.append(rng.choice(SPACES))
    return "".join(parts)


def main():
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 4000
    rng = random.Random(11)
    with open(sys.argv[1], "w", encoding="utf-8") as out:
        for _ in range(count):
            out.write(json.dumps(query(rng)) + "\n")


if __name__ == "__main__":
    main()
