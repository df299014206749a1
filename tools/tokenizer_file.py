# SPDX-License-Identifier: GPL-3.0-or-later
"""The QMBPE1 tokenizer file: writer, reader-side tokenizer and a small BPE trainer.

Layout (little-endian): "QMBPE1" (or "QMBPE2", u8 pattern, u8 flags, i32 start token, u16 length
+ end-of-word suffix, for byte-level BPE), u32 vocabCount, per entry u16 length + UTF-8 bytes (id order),
u32 mergeCount, per merge i32 left, u32 right, i32 merged (rank order).
"""

import struct

MAGIC = b"QMBPE1"
SPACE = "\u2581"


def byte_token(value):
    return "<0x%02X>" % value


def write(path, vocab, merges, scheme=None):
    """vocab: list of str (or bytes) in id order; merges: list of (left, right, merged) ids;
    scheme: (pattern, flags, bos id, end-of-word suffix) of a byte-level file (QMBPE2)."""
    out = bytearray(MAGIC if scheme is None else b"QMBPE2")
    if scheme is not None:
        pattern, flags, bos, suffix = scheme
        suffix = suffix.encode("utf-8")
        out += struct.pack("<BBiH", pattern, flags, bos, len(suffix)) + suffix
    out += struct.pack("<I", len(vocab))
    for entry in vocab:
        data = entry.encode("utf-8") if isinstance(entry, str) else bytes(entry)
        if len(data) > 0xFFFF:
            raise ValueError("vocabulary entry longer than 65535 bytes")
        out += struct.pack("<H", len(data)) + data
    out += struct.pack("<I", len(merges))
    for left, right, merged in merges:
        out += struct.pack("<iIi", left, right, merged)
    with open(path, "wb") as f:
        f.write(bytes(out))


class Tokenizer:
    """The same tokenisation the engine does, for checking a vocabulary as it is made."""

    def __init__(self, vocab, merges, lowercase=True):
        self.lowercase = lowercase
        self.scalars = {}
        self.bytes = {}
        for k, text in enumerate(vocab):
            if len(text) == 6 and text.startswith("<0x") and text.endswith(">"):
                try:
                    value = int(text[3:5], 16)
                    self.bytes.setdefault(value, k)
                    continue
                except ValueError:
                    pass
            if len(text) == 1:
                self.scalars.setdefault(ord(text), k)
        self.merges = {}
        for rank, (a, b, m) in enumerate(merges):
            self.merges.setdefault((a, b), (rank, m))

    def tokens(self, text):
        if self.lowercase:
            text = text.lower()
        text = text.replace(" ", SPACE)
        ids = []
        for ch in text:
            if ord(ch) in self.scalars:
                ids.append(self.scalars[ord(ch)])
            else:
                ids.extend(self.bytes[b] for b in ch.encode("utf-8") if b in self.bytes)
        while len(ids) >= 2:
            best = None
            for i in range(len(ids) - 1):
                found = self.merges.get((ids[i], ids[i + 1]))
                if found and (best is None or found[0] < best[0]):
                    best = (found[0], i, found[1])
            if best is None:
                break
            _, i, merged = best
            ids[i:i + 2] = [merged]
        return ids


def merge_pair(seq, pair, merged):
    """seq with every non-overlapping occurrence of pair, left to right, replaced by merged."""
    out, i = [], 0
    while i < len(seq):
        if i + 1 < len(seq) and (seq[i], seq[i + 1]) == pair:
            out.append(merged)
            i += 2
        else:
            out.append(seq[i])
            i += 1
    return out


def train(words, alphabet, special=("<pad>", "<eos>")):
    """Byte-pair training over a word list until every word is one token.

    Returns (vocab, merges): special tokens first, then the 256 byte tokens, then the alphabet's
    single characters, then one entry per merge. Pairs are chosen by frequency, ties by the
    pair's text, so the result does not depend on dictionary order.
    """
    vocab = list(special) + [byte_token(b) for b in range(256)] + list(alphabet)
    ids = {text: k for k, text in enumerate(vocab) if len(text) == 1}
    words = sorted(set(words))
    for word in words:
        for ch in word:
            if ch not in ids:
                raise ValueError("character %r of %r is not in the alphabet" % (ch, word))
    pieces = [[ids[ch] for ch in word] for word in words]
    merges = []
    while True:
        counts = {}
        for seq in pieces:
            for pair in zip(seq, seq[1:]):
                counts[pair] = counts.get(pair, 0) + 1
        if not counts:
            break
        pair = min(counts, key=lambda p: (-counts[p], vocab[p[0]] + vocab[p[1]], p))
        merged_text = vocab[pair[0]] + vocab[pair[1]]
        merged = len(vocab)
        vocab.append(merged_text)
        merges.append((pair[0], pair[1], merged))
        for n, seq in enumerate(pieces):
            pieces[n] = merge_pair(seq, pair, merged)
    return vocab, merges
