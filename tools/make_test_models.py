#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the small purpose-made model directories the engine's tests use, one per case,
under OUTPUT_DIRECTORY. Every directory holds model.json, ImageEncoder.onnx, TextEncoder.onnx
and tokenizer.bin.

  tiny      image: unit(mean RGB / 255 @ W); text: unit(sum of table rows of the ids)
  zeros     both encoders output all zeros
  half      as tiny, with float16 outputs
  double    as tiny, with float64 outputs
  misnamed  as tiny, with the output called "features"
  short     outputs of DIM - 1 components
  int64     as tiny, with an int64 input_ids
  batch     as tiny, but the image output is [N, 2, DIM] (only the first DIM values count)

W[c][j] = ((c + 1) * (j + 2)) % 7 - 3; table[k][j] = ((k * 5 + j * 3) % 11) - 5; both are
rebuilt by the tests to check the results.
"""

import json
import os
import sys

import numpy as np
from onnx import TensorProto

import onnx_graphs
import tokenizer_file

IMAGE_SIZE = 32
CONTEXT_LENGTH = 8
DIM = 8

VOCAB = ["<pad>", "<eos>", "a", "b", "c", tokenizer_file.SPACE, "ab", "abc"]
MERGES = [(2, 3, 6), (6, 4, 7)]


def weights():
    return np.array([[((c + 1) * (j + 2)) % 7 - 3 for j in range(DIM)] for c in range(3)],
                    dtype=np.float32)


def table():
    return np.array([[((k * 5 + j * 3) % 11) - 5 for j in range(DIM)] for k in range(len(VOCAB))],
                    dtype=np.float32)


def finish(g, value, name, elem_type, shape):
    if elem_type != TensorProto.FLOAT:
        value = g.op("Cast", [value], to=elem_type)
    g.op("Identity", [value], output=name)
    g.output(name, elem_type, shape)


def image_encoder(path, scale=1.0, out_dim=DIM, elem_type=TensorProto.FLOAT, name="embedding",
                  extra_axis=False):
    g = onnx_graphs.Graph("test_image_encoder")
    image = onnx_graphs.image_input(g, IMAGE_SIZE)
    x = g.op("Mul", [g.op("Cast", [image], to=TensorProto.FLOAT), g.const(np.float32(1 / 255))])
    mean = g.op("ReduceMean", [x], axes=[1, 2], keepdims=0)  # [N, 3]
    w = weights()[:, :out_dim] * np.float32(scale)
    y = g.op("MatMul", [mean, g.const(w)])
    shape = ["N", out_dim]
    if extra_axis:  # [N, 2, DIM]: the item's first DIM values, then its negation
        y = g.op("Concat", [g.op("Unsqueeze", [y, g.const(np.array([1], np.int64))]),
                            g.op("Unsqueeze", [g.op("Neg", [y]), g.const(np.array([1], np.int64))])],
                 axis=1)
        shape = ["N", 2, out_dim]
    finish(g, y, name, elem_type, shape)
    g.save(path)


def text_encoder(path, scale=1.0, out_dim=DIM, elem_type=TensorProto.FLOAT, name="embedding",
                 input_type=TensorProto.INT32):
    g = onnx_graphs.Graph("test_text_encoder")
    ids = onnx_graphs.text_input(g, CONTEXT_LENGTH, input_type)
    rows = g.op("Gather", [g.const(table()[:, :out_dim] * np.float32(scale)), ids], axis=0)
    y = g.op("ReduceSum", [rows, g.const(np.array([1], np.int64))], keepdims=0)
    finish(g, y, name, elem_type, [1, out_dim])
    g.save(path)


def write_case(root, case, image_args, text_args):
    out = os.path.join(root, case)
    os.makedirs(out, exist_ok=True)
    image_encoder(os.path.join(out, "ImageEncoder.onnx"), **image_args)
    text_encoder(os.path.join(out, "TextEncoder.onnx"), **text_args)
    tokenizer_file.write(os.path.join(out, "tokenizer.bin"), VOCAB, MERGES)
    info = {"hf": "quillmere-test/" + case, "kind": "test", "imageSize": IMAGE_SIZE,
            "contextLength": CONTEXT_LENGTH, "dim": DIM, "logitScale": 10, "logitBias": -10,
            "lowercase": True, "padId": 0, "eosId": 1, "resize": "crop", "batch": 4}
    with open(os.path.join(out, "model.json"), "w") as f:
        json.dump(info, f, indent=2)


def main():
    if len(sys.argv) != 2:
        raise SystemExit("usage: make_test_models.py OUTPUT_DIRECTORY")
    root = sys.argv[1]
    write_case(root, "tiny", {}, {})
    write_case(root, "zeros", {"scale": 0.0}, {"scale": 0.0})
    write_case(root, "half", {"elem_type": TensorProto.FLOAT16}, {"elem_type": TensorProto.FLOAT16})
    write_case(root, "double", {"elem_type": TensorProto.DOUBLE}, {"elem_type": TensorProto.DOUBLE})
    write_case(root, "misnamed", {"name": "features"}, {"name": "features"})
    write_case(root, "short", {"out_dim": DIM - 1}, {"out_dim": DIM - 1})
    write_case(root, "int64", {}, {"input_type": TensorProto.INT64})
    write_case(root, "batch", {"extra_axis": True}, {})


if __name__ == "__main__":
    main()
