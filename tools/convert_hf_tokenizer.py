#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Converts a Hugging Face tokenizer.json into tokenizer.bin: BPE with byte fallback and the
"▁" space convention (SentencePiece-derived, such as Gemma's) as QMBPE1, byte-level BPE
(CLIP's or Llama 3's word split) as QMBPE2 with its scheme.

  convert_hf_tokenizer.py tokenizer.json tokenizer.bin

Ids are kept: entry k of the file is the token with id k (added tokens included; ids nobody
uses become empty entries). Merges keep their order, so their ranks stay. Byte-level BPE with
another word split is refused. kit/catalogue/HFTokenizerConverter.cpp follows the same rules.

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
        kind = model.get("type")
        fail("it uses a%s model, which Quillmere can't read yet; use an export whose tokenizer "
             "is BPE (SigLIP, SigLIP 2, CLIP)" % (" " + kind if isinstance(kind, str)
                                                 else "n unnamed"))
    vocab = dict(model.get("vocab") or {})
    for added in data.get("added_tokens") or []:
        vocab.setdefault(added["content"], added["id"])
    if not vocab:
        fail("the tokenizer has no vocabulary")
    size = max(vocab.values()) + 1
    if min(vocab.values()) < 0 or size > 2 ** 31 - 1:
        fail("token ids out of range")
    # One entry is kept for every id up to the largest: gaps, but none wider than the
    # vocabulary.
    named = len(model.get("vocab") or {}) + len(data.get("added_tokens") or [])
    if size > 2 * named + 256:
        text, k = max(vocab.items(), key=lambda item: item[1])
        fail("the id %d of %r is far beyond the vocabulary's %d tokens" % (k, text[:40], named))
    by_id = [""] * size
    for text, k in vocab.items():
        if by_id[k]:
            fail("id %d is given to both %r and %r" % (k, by_id[k], text))
        by_id[k] = text
    return model, vocab, by_id


CLIP = r"""'s|'t|'re|'ve|'m|'ll|'d|[\p{L}]+|[\p{N}]|[^\s\p{L}\p{N}]+"""
PATTERNS = {
    (CLIP, "Removed", True): 1,
    (r"<\|startoftext\|>|<\|endoftext\|>|" + CLIP, "Removed", True): 1,
    (r"""(?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}{1,3}| ?[^\s\p{L}\p{N}]+"""
     r"""[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+""", "Isolated", False): 2,
}
CLEAN_UP, LOWERCASE, IGNORE_MERGES = 1, 2, 4


def parts(node, key):
    if node is None:
        return []
    if isinstance(node, dict) and node.get("type") == "Sequence" and isinstance(node.get(key),
                                                                                 list):
        return node[key]
    return [node]


def byte_level_scheme(data, model, vocab):
    """(pattern, flags, bos, suffix): a known Split, then ByteLevel without a prefix space."""
    pattern, byte_level = None, False
    for part in parts(data.get("pre_tokenizer"), "pretokenizers"):
        kind = part.get("type") if isinstance(part, dict) else None
        if kind == "Split" and pattern is None and not byte_level:
            regex = (part.get("pattern") or {}).get("Regex", "")
            pattern = PATTERNS.get((regex, part.get("behavior"), part.get("invert", False)))
            if pattern is None:
                break
        elif kind == "ByteLevel" and pattern and not byte_level and \
                not part.get("add_prefix_space", False):
            byte_level = True
        else:
            pattern = None
            break
    if pattern is None or not byte_level:
        fail("it is byte-level BPE with a pre-tokenizer Quillmere can't read yet (it reads "
             "CLIP's and Llama 3's word splits)")
    flags, nfc, spaces = 0, False, False
    for part in parts(data.get("normalizer"), "normalizers"):
        kind = part.get("type")
        if kind == "NFC":
            nfc = True
        elif kind == "Replace" and (part.get("pattern") or {}).get("Regex") == r"\s+" and \
                part.get("content") == " ":
            spaces = True
        elif kind == "Lowercase":
            flags |= LOWERCASE
        else:
            fail("it is byte-level BPE with a normalizer Quillmere can't read yet (%s)" %
                 json.dumps(part))
    if nfc != spaces:
        fail("it is byte-level BPE with a normalizer Quillmere can't read yet")
    if nfc:
        flags |= CLEAN_UP
    if model.get("ignore_merges"):
        flags |= IGNORE_MERGES
    if model.get("continuing_subword_prefix"):
        fail("it is byte-level BPE with a continuing-subword prefix, which Quillmere can't "
             "read yet")
    suffix = model.get("end_of_word_suffix") or ""
    return pattern, flags, start_token(data.get("post_processor"), vocab), suffix


def start_token(processor, vocab):
    for part in parts(processor, "processors"):
        kind = part.get("type")
        cls = part.get("cls")
        if kind in ("RobertaProcessing", "BertProcessing") and isinstance(cls, list) and \
                len(cls) == 2 and isinstance(cls[1], int):
            return cls[1]
        single = part.get("single")
        if kind == "TemplateProcessing" and single and "SpecialToken" in single[0]:
            name = single[0]["SpecialToken"].get("id", "")
            if name in vocab:
                return vocab[name]
    return -1


def byte_characters():
    printable = [b for b in range(256) if 33 <= b <= 126 or 161 <= b <= 172 or b >= 174]
    table, extra = {}, 256
    for b in range(256):
        if b in printable:
            table[b] = chr(b)
        else:
            table[b] = chr(extra)
            extra += 1
    return table


def check_scheme(data, model, vocab):
    pre = json.dumps(data.get("pre_tokenizer"))
    if "ByteLevel" in pre or "\u0120" in vocab and tokenizer_file.SPACE not in vocab:
        scheme = byte_level_scheme(data, model, vocab)
        if any(c not in vocab for c in byte_characters().values()):
            print("convert_hf_tokenizer: note: not every byte has a token; characters without "
                  "one will be dropped", file=sys.stderr)
        return scheme
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
    return None


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
    scheme = check_scheme(data, model, vocab)
    merges = []
    for merge in model.get("merges") or []:
        left, right = split_merge(merge, vocab)
        if left not in vocab or right not in vocab or left + right not in vocab:
            fail("merge %r names tokens that are not in the vocabulary" % (merge,))
        merges.append((vocab[left], vocab[right], vocab[left + right]))
    return by_id, merges, scheme


def main():
    if len(sys.argv) != 3:
        raise SystemExit("usage: convert_hf_tokenizer.py tokenizer.json tokenizer.bin")
    with open(sys.argv[1], encoding="utf-8") as f:
        data = json.load(f)
    by_id, merges, scheme = convert(data)
    tokenizer_file.write(sys.argv[2], by_id, merges, scheme)
    specials = {t["content"]: t["id"] for t in data.get("added_tokens") or []}
    for name in ("<pad>", "<eos>", "</s>", "<|endoftext|>", "<|startoftext|>"):
        if name in specials:
            print("%s = %d" % (name, specials[name]), file=sys.stderr)
    print("wrote %d tokens and %d merges" % (len(by_id), len(merges)), file=sys.stderr)


if __name__ == "__main__":
    main()
