#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes a small CLIP-style tokenizer.json: byte-level BPE with "</w>" ending each word,
trained on a fixed multilingual word list, with CLIP's normalizer (NFC, whitespace runs to one
space, lower case), word split, post-processor and decoder as Hugging Face writes them.

  make_clip_tokenizer.py TOKENIZER_JSON [MERGES]

Ids: the 256 byte characters, the same with "</w>", one per merge, then <|startoftext|> and
<|endoftext|>, as CLIP's vocabulary is laid out.
"""

import json
import sys

import tokenizer_file

SUFFIX = "</w>"
SPLIT = r"""'s|'t|'re|'ve|'m|'ll|'d|[\p{L}]+|[\p{N}]|[^\s\p{L}\p{N}]+"""
CORPUS = (
    "a photo of a dog running on the beach at sunset red car at night birthday cake with "
    "candles snow covered forest children playing football old city street mountains over "
    "the lake cat sleeping on a sofa people walking in the rain bridge river boat harbour "
    "straße hund läuft am strand sonnenuntergang über den bergen geburtstagskuchen "
    "chien qui court sur la plage coucher de soleil gâteau d'anniversaire été naïve "
    "собака бежит по пляжу закат над горами красная машина ночью "
    "σκύλος τρέχει στην παραλία ηλιοβασίλεμα πάνω από τα βουνά "
    "夜の赤い車 浜辺を走る犬 山の夕日 夜晚的红色汽车 在海滩上奔跑的狗 "
    "كلب يركض على الشاطئ समुद्र तट पर दौड़ता कुत्ता 🐶 🌅 🎂 🚗 ❄️ 👨‍👩‍👧 "
    "it's don't we're they've i'm you'll he'd !!! ... -- ?! 2024 12:30 #tag @home"
).split()


def byte_characters():
    """GPT-2's table: printable Latin-1 bytes stand for themselves, the rest take U+0100 on."""
    table, extra = [], 256
    for b in range(256):
        if 33 <= b <= 126 or 161 <= b <= 172 or b >= 174:
            table.append(chr(b))
        else:
            table.append(chr(extra))
            extra += 1
    return table


def train(merge_count):
    """Pairs by frequency over the corpus' words, ties by text; a merge whose text is already a
    token reuses it."""
    chars = byte_characters()
    vocab = chars + [c + SUFFIX for c in chars]
    ids = {text: k for k, text in enumerate(vocab)}
    words = []
    for word in CORPUS:
        symbols = [chars[b] for b in word.encode("utf-8")]
        symbols[-1] += SUFFIX
        words.append([ids[s] for s in symbols])
    merges = []
    while len(merges) < merge_count:
        counts = {}
        for seq in words:
            for pair in zip(seq, seq[1:]):
                counts[pair] = counts.get(pair, 0) + 1
        if not counts:
            break
        pair = min(counts, key=lambda p: (-counts[p], vocab[p[0]], vocab[p[1]]))
        text = vocab[pair[0]] + vocab[pair[1]]
        if text not in ids:
            ids[text] = len(vocab)
            vocab.append(text)
        merges.append("%s %s" % (vocab[pair[0]], vocab[pair[1]]))
        merged = ids[text]
        for n, seq in enumerate(words):
            words[n] = tokenizer_file.merge_pair(seq, pair, merged)
    return vocab, merges


def tokenizer_json(merge_count=400):
    vocab, merges = train(merge_count)
    start, end = len(vocab), len(vocab) + 1
    vocab += ["<|startoftext|>", "<|endoftext|>"]
    added = [{"id": k, "content": vocab[k], "single_word": False, "lstrip": False,
              "rstrip": False, "normalized": True, "special": True} for k in (start, end)]
    return {
        "version": "1.0",
        "truncation": None,
        "padding": None,
        "added_tokens": added,
        "normalizer": {"type": "Sequence", "normalizers": [
            {"type": "NFC"},
            {"type": "Replace", "pattern": {"Regex": r"\s+"}, "content": " "},
            {"type": "Lowercase"}]},
        "pre_tokenizer": {"type": "Sequence", "pretokenizers": [
            {"type": "Split", "pattern": {"Regex": SPLIT}, "behavior": "Removed",
             "invert": True},
            {"type": "ByteLevel", "add_prefix_space": False, "trim_offsets": True,
             "use_regex": False}]},
        "post_processor": {"type": "RobertaProcessing", "sep": ["<|endoftext|>", end],
                           "cls": ["<|startoftext|>", start], "trim_offsets": False,
                           "add_prefix_space": False},
        "decoder": {"type": "ByteLevel", "add_prefix_space": True, "trim_offsets": True,
                    "use_regex": True},
        "model": {"type": "BPE", "dropout": None, "unk_token": "<|endoftext|>",
                  "continuing_subword_prefix": "", "end_of_word_suffix": SUFFIX,
                  "fuse_unk": False, "byte_fallback": False, "ignore_merges": False,
                  "vocab": {t: k for k, t in enumerate(vocab)}, "merges": merges},
    }


def tokenizer_config(context_length):
    return {"bos_token": "<|startoftext|>", "eos_token": "<|endoftext|>",
            "pad_token": "<|endoftext|>", "unk_token": "<|endoftext|>",
            "do_lower_case": True, "model_max_length": context_length}


def main():
    if len(sys.argv) not in (2, 3):
        raise SystemExit("usage: make_clip_tokenizer.py TOKENIZER_JSON [MERGES]")
    merges = int(sys.argv[2]) if len(sys.argv) == 3 else 400
    with open(sys.argv[1], "w", encoding="utf-8") as f:
        json.dump(tokenizer_json(merges), f, ensure_ascii=False)


if __name__ == "__main__":
    main()
