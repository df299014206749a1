#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the demo search model into a directory: model.json, ImageEncoder.onnx,
TextEncoder.onnx and tokenizer.bin.

It is not a trained model. Its shared space has three blocks:
  colour: how much of the picture each of eleven colour names (a few shades each) covers,
          plus dark and bright;
  layout: the picture's mean colour on an 8 x 8 grid, relative to its overall mean colour;
  extra:  text-only directions for words the model does not know.
Images fill the first two blocks (each scaled to half the energy), queries the first and the
last, so that colour and light words rank pictures and the layout tells photos apart.
"""

import json
import os
import sys

import numpy as np
from onnx import TensorProto

import onnx_graphs
import tokenizer_file

IMAGE_SIZE = 224
CONTEXT_LENGTH = 64
DIM = 256
GRID = 8
CELLS = 32  # colour names are judged on a 32 x 32 grid of mean colours
EXTRA = 32

COLOURS = [  # colour name, prototype RGB in [0, 1]; a name may have several shades
    ("red", (0.80, 0.10, 0.10)), ("red", (0.50, 0.06, 0.06)),
    ("orange", (0.95, 0.55, 0.10)), ("orange", (0.80, 0.40, 0.10)),
    ("yellow", (0.95, 0.88, 0.20)), ("yellow", (0.85, 0.75, 0.35)),
    ("green", (0.20, 0.55, 0.20)), ("green", (0.55, 0.75, 0.25)), ("green", (0.08, 0.25, 0.08)),
    ("blue", (0.15, 0.35, 0.80)), ("blue", (0.55, 0.70, 0.90)), ("blue", (0.10, 0.15, 0.40)),
    ("blue", (0.50, 0.60, 0.72)),
    ("purple", (0.50, 0.20, 0.60)), ("purple", (0.70, 0.50, 0.85)),
    ("pink", (0.95, 0.60, 0.75)),
    ("brown", (0.45, 0.30, 0.15)), ("brown", (0.70, 0.60, 0.45)),
    ("black", (0.04, 0.04, 0.04)),
    ("white", (0.95, 0.95, 0.95)),
    ("grey", (0.50, 0.50, 0.50)), ("grey", (0.75, 0.75, 0.75)), ("grey", (0.25, 0.25, 0.25)),
]
COLOUR_NAMES = list(dict.fromkeys(name for name, _ in COLOURS))
NAMES = COLOUR_NAMES + ["dark", "bright"]
TEMPERATURE = 0.04

# Words that mean directions of the colour block.
LEARNED = {
    "red": {"red": 1.0}, "orange": {"orange": 1.0}, "yellow": {"yellow": 1.0},
    "green": {"green": 1.0}, "blue": {"blue": 1.0}, "purple": {"purple": 1.0},
    "violet": {"purple": 1.0}, "pink": {"pink": 1.0}, "brown": {"brown": 1.0},
    "black": {"black": 1.0, "dark": 0.3}, "white": {"white": 1.0, "bright": 0.3},
    "grey": {"grey": 1.0}, "gray": {"grey": 1.0},
    "night": {"dark": 1.0, "black": 0.6, "blue": 0.15},
    "dark": {"dark": 1.0, "black": 0.5},
    "bright": {"bright": 1.0, "white": 0.3},
    "sunny": {"bright": 1.0, "yellow": 0.3, "blue": 0.2},
    "light": {"bright": 0.8, "white": 0.3},
    "sky": {"blue": 1.0, "white": 0.3, "bright": 0.3},
    "sea": {"blue": 1.0, "green": 0.15},
    "ocean": {"blue": 1.0},
    "water": {"blue": 0.8, "grey": 0.2},
    "grass": {"green": 1.0, "yellow": 0.15},
    "forest": {"green": 1.0, "dark": 0.35, "brown": 0.2},
    "tree": {"green": 0.9, "brown": 0.3},
    "leaf": {"green": 1.0},
    "snow": {"white": 1.0, "bright": 0.5},
    "sand": {"yellow": 0.6, "orange": 0.3, "brown": 0.4, "white": 0.2},
    "sunset": {"orange": 1.0, "red": 0.5, "pink": 0.3, "purple": 0.2},
    "fire": {"orange": 1.0, "red": 0.7, "yellow": 0.4, "dark": 0.2},
    "flower": {"pink": 0.5, "red": 0.4, "yellow": 0.4, "purple": 0.3},
    "wood": {"brown": 1.0},
}
# Everyday words that get a token of their own (and no meaning).
COMMON = """a an the of at in on by to with and or is are my our this that from under over near
car cars dog cat people person man woman child kid boy girl house road street city beach
mountain mountains lake river rain storm cloud clouds sun moon day evening morning photo
picture video family party birthday holiday garden field wall door window table food bird
birds ladybird drops wings dune meadow bike train boat plane""".split()

ALPHABET = list("abcdefghijklmnopqrstuvwxyz0123456789") + [tokenizer_file.SPACE] + list(
    ".,'-!?&:;/()\"")


def colour_block(weights):
    vector = np.zeros(len(NAMES))
    for name, value in weights.items():
        vector[NAMES.index(name)] = value
    return vector


def make_tokenizer():
    words = list(LEARNED) + COMMON
    corpus = words + [tokenizer_file.SPACE + w for w in words]
    vocab, merges = tokenizer_file.train(corpus, ALPHABET)
    check = tokenizer_file.Tokenizer(vocab, merges)
    for word in corpus:
        if len(check.tokens(word)) != 1:
            raise SystemExit("demo vocabulary: %r is not one token" % word)
    return vocab, merges


def text_table(vocab, rng):
    layout = 3 * GRID * GRID
    width = len(NAMES) + layout + EXTRA
    table = np.zeros((len(vocab), width), dtype=np.float32)
    for k, text in enumerate(vocab):
        if k < 2:  # <pad> and <eos> add nothing
            continue
        word = text.lstrip(tokenizer_file.SPACE)
        if word in LEARNED:
            table[k, :len(NAMES)] = colour_block(LEARNED[word])
        else:
            extra = rng.standard_normal(EXTRA)
            norm = 0.35 if len(word) > 1 else 0.15
            table[k, len(NAMES) + layout:] = norm * extra / np.linalg.norm(extra)
    return table


def projection(rows, rng):
    q, _ = np.linalg.qr(rng.standard_normal((DIM, rows)))
    return q.T.astype(np.float32)  # rows x DIM with orthonormal rows: an isometry


def image_encoder(path, projection_matrix):
    g = onnx_graphs.Graph("demo_image_encoder")
    image = onnx_graphs.image_input(g, IMAGE_SIZE)
    x = g.op("Cast", [image], to=TensorProto.FLOAT)
    x = g.op("Mul", [x, g.const(np.float32(1 / 255))])
    x = g.op("Transpose", [x], perm=[0, 3, 1, 2])
    k = IMAGE_SIZE // CELLS
    cells = g.op("AveragePool", [x], kernel_shape=[k, k], strides=[k, k])

    # Layout block: 8 x 8 mean colours minus the picture's mean colour, unit length.
    k = CELLS // GRID
    grid = g.op("AveragePool", [cells], kernel_shape=[k, k], strides=[k, k])
    mean = g.op("ReduceMean", [grid], axes=[2, 3], keepdims=1)
    layout = g.op("Reshape", [g.op("Sub", [grid, mean]), g.const(np.array([0, -1], np.int64))])

    # Colour block: softmax over distances to the prototypes (a linear map of RGB), and dark
    # and bright from the luminance, averaged over the cells.
    per_cell = g.op("Transpose", [cells], perm=[0, 2, 3, 1])
    protos = np.array([rgb for _, rgb in COLOURS], dtype=np.float32)  # shades x 3
    weights = (2 * protos.T / TEMPERATURE).astype(np.float32)
    bias = (-(protos ** 2).sum(axis=1) / TEMPERATURE).astype(np.float32)
    shade_to_name = np.zeros((len(COLOURS), len(COLOUR_NAMES)), dtype=np.float32)
    for k, (name, _) in enumerate(COLOURS):
        shade_to_name[k, COLOUR_NAMES.index(name)] = 1
    logits = g.op("Add", [g.op("MatMul", [per_cell, g.const(weights)]), g.const(bias)])
    shades = g.op("ReduceMean", [g.op("Softmax", [logits], axis=-1)], axes=[1, 2], keepdims=0)
    names = g.op("MatMul", [shades, g.const(shade_to_name)])
    luma = np.array([0.299, 0.587, 0.114], dtype=np.float32)
    light_w = np.stack([-15 * luma, 15 * luma], axis=1).astype(np.float32)
    light_b = np.array([15 * 0.25, -15 * 0.70], dtype=np.float32)
    light = g.op("Sigmoid", [g.op("Add", [g.op("MatMul", [per_cell, g.const(light_w)]),
                                         g.const(light_b)])])
    light = g.op("ReduceMean", [light], axes=[1, 2], keepdims=0)
    colour = g.op("Concat", [names, light], axis=1)

    half = np.float32(np.sqrt(0.5))
    blocks = []
    for block in (colour, layout):
        energy = g.op("ReduceSum", [g.op("Mul", [block, block]), g.const(np.array([1], np.int64))],
                      keepdims=1)
        norm = g.op("Sqrt", [g.op("Add", [energy, g.const(np.float32(1e-12))])])
        blocks.append(g.op("Mul", [g.op("Div", [block, norm]), g.const(half)]))
    features = g.op("Concat", blocks, axis=1)
    rows = len(NAMES) + 3 * GRID * GRID
    g.op("MatMul", [features, g.const(projection_matrix[:rows])], output="embedding")
    g.output("embedding", TensorProto.FLOAT, ["N", DIM])
    g.save(path)


def text_encoder(path, table, projection_matrix):
    g = onnx_graphs.Graph("demo_text_encoder")
    ids = onnx_graphs.text_input(g, CONTEXT_LENGTH)
    rows = g.op("Gather", [g.const(table, "embedding_table"), ids], axis=0)
    summed = g.op("ReduceSum", [rows, g.const(np.array([1], np.int64))], keepdims=0)
    g.op("MatMul", [summed, g.const(projection_matrix)], output="embedding")
    g.output("embedding", TensorProto.FLOAT, [1, DIM])
    g.save(path)


def main():
    if len(sys.argv) != 2:
        raise SystemExit("usage: make_demo_model.py OUTPUT_DIRECTORY")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    rng = np.random.default_rng(20240611)
    vocab, merges = make_tokenizer()
    table = text_table(vocab, rng)
    matrix = projection(table.shape[1], rng)
    tokenizer_file.write(os.path.join(out, "tokenizer.bin"), vocab, merges)
    image_encoder(os.path.join(out, "ImageEncoder.onnx"), matrix)
    text_encoder(os.path.join(out, "TextEncoder.onnx"), table, matrix)
    info = {
        "hf": "quillmere-demo",
        "kind": "demo model: colour names, light and layout; not a trained model",
        "imageSize": IMAGE_SIZE, "contextLength": CONTEXT_LENGTH, "dim": DIM,
        "logitScale": 10.0, "logitBias": -4.0, "lowercase": True,
        "padId": 0, "eosId": 1, "resize": "crop", "batch": 16,
    }
    with open(os.path.join(out, "model.json"), "w") as f:
        json.dump(info, f, indent=2)
        f.write("\n")


if __name__ == "__main__":
    main()
