#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Converts a Hugging Face tokenizer.json (BPE with byte fallback and the "▁" space
convention, as SentencePiece-derived tokenizers such as Gemma's use) into tokenizer.bin.

  convert_hf_tokenizer.py tokenizer.json tokenizer.bin

Ids are kept: entry k of the file is the token with id k (added tokens included; ids nobody
uses become empty entries). Merges keep their order, so their ranks stay. Byte-level BPE
(GPT-2 or CLIP style, "Ġ" for spaces) is a different scheme and is refused.

The engine writes spaces as "▁" and adds nothing at the start; a tokenizer that prepends "▁"
is converted but reported, since queries would then tokenise slightly differently.
"""

import json
import sys

import tokenizer_file


def fail(message):
    raise SystemExit("convert_hf_tokenizer: " + message)


def load_vocab(data):
    model = data.get("model") or {}
    if model.get("type") != "BPE":
        fail("only BPE tokenizers can be converted (this one is %r)" % model.get("type"))
    vocab = dict(model.get("vocab") or {})
    for added in data.get("added_tokens") or []:
        vocab.setdefault(added["content"], added["id"])
    if not vocab:
        fail("the tokenizer has no vocabulary")
    size = max(vocab.values()) + 1
    if min(vocab.values()) < 0 or size > 2 ** 31 - 1:
        fail("token ids out of range")
    by_id = [""] * size
    for text, k in vocab.items():
        if by_id[k]:
            fail("id %d is given to both %r and %r" % (k, by_id[k], text))
        by_id[k] = text
    return model, vocab, by_id


def check_scheme(data, model, vocab):
    pre = json.dumps(data.get("pre_tokenizer"))
    if "ByteLevel" in pre or "\u0120" in vocab and tokenizer_file.SPACE not in vocab:
        fail("byte-level BPE (GPT-2 / CLIP style) is not the byte-fallback scheme")
    if not model.get("byte_fallback") and "<0x41>" not in vocab:
        print("convert_hf_tokenizer: note: no byte fallback; characters outside the vocabulary "
              "will be dropped", file=sys.stderr)
    normalizer = json.dumps(data.get("normalizer"))
    if "Prepend" in normalizer or '"add_prefix_space": true' in pre or "Metaspace" in pre:
        print("convert_hf_tokenizer: note: this tokenizer adds a \u2581 at the start of the "
              "text; the engine does not", file=sys.stderr)
    if "Lowercase" in normalizer:
        print("convert_hf_tokenizer: note: it lowercases: set \"lowercase\": true in model.json",
              file=sys.stderr)


def split_merge(merge, vocab):
    if isinstance(merge, list):
        if len(merge) != 2:
            fail("merge %r is not a pair" % (merge,))
        return merge[0], merge[1]
    # "left right": the parts may hold spaces themselves, so take the split that names tokens.
    candidates = []
    for i, ch in enumerate(merge):
        if ch == " ":
            left, right = merge[:i], merge[i + 1:]
            if left in vocab and right in vocab and left + right in vocab:
                candidates.append((left, right))
    if len(candidates) != 1:
        fail("merge %r can't be read" % merge)
    return candidates[0]


def convert(data):
    model, vocab, by_id = load_vocab(data)
    check_scheme(data, model, vocab)
    merges = []
    for merge in model.get("merges") or []:
        left, right = split_merge(merge, vocab)
        if left not in vocab or right not in vocab or left + right not in vocab:
            fail("merge %r names tokens that are not in the vocabulary" % (merge,))
        merges.append((vocab[left], vocab[right], vocab[left + right]))
    return by_id, merges


def main():
    if len(sys.argv) != 3:
        raise SystemExit("usage: convert_hf_tokenizer.py tokenizer.json tokenizer.bin")
    with open(sys.argv[1], encoding="utf-8") as f:
        data = json.load(f)
    by_id, merges = convert(data)
    tokenizer_file.write(sys.argv[2], by_id, merges)
    specials = {t["content"]: t["id"] for t in data.get("added_tokens") or []}
    for name in ("<pad>", "<eos>", "</s>", "<|endoftext|>"):
        if name in specials:
            print("%s = %d" % (name, specials[name]), file=sys.stderr)
    print("wrote %d tokens and %d merges" % (len(by_id), len(merges)), file=sys.stderr)


if __name__ == "__main__":
    main()
