#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes an image encoder with the compute of ViT-B/16 at 224 pixels (about 17.5 billion
multiply-adds per image) and random weights, for benchmarks: model.json and ImageEncoder.onnx.

Patch embedding of 16 x 16 patches to 768 widths, then 12 pre-norm transformer blocks (12 heads
of 64, MLP of 3072) and a 768-wide head on the first token. The blocks share one set of weights
to keep the file small; the arithmetic is the same as with twelve. With --patch 32, ViT-B/32's
compute (49 patches of 32 x 32, about 4.4 billion).

With --int8, the same weights quantised per output channel the way the published dynamic int8
exports are: each weight product becomes DynamicQuantizeLinear on the activations, MatMulInteger
with the int8 weights, and the two scales applied to its int32 result; the products of two
activations (attention) stay in float. With --fp16, the same weights and arithmetic in float16,
as the published fp16 exports are.

  make_vit_model.py [--int8 | --fp16] [--patch 32] OUTPUT_DIRECTORY
"""

import argparse
import json
import os

import numpy as np
from onnx import TensorProto

import onnx_graphs

SIZE, PATCH, WIDTH, HEADS, MLP, BLOCKS = 224, 16, 768, 12, 3072, 12


def graph(float_input=False, int8=False, patch=PATCH):
    """The encoder. float_input: the published layout instead of ours, float32 [1, 3, S, S]
    pixels already normalised, as the Immich exports take them. int8: weights quantised."""
    rng = np.random.default_rng(16)
    tokens = (SIZE // patch) ** 2

    def weight(*shape):
        return (rng.standard_normal(shape) * 0.02).astype(np.float32)

    def constant(w):
        """A weight matrix as the product's right side: float, or int8 with its scales."""
        if not int8:
            return g.const(w)
        scales = np.maximum(np.abs(w).max(axis=0), 1e-12) / 127
        q = np.clip(np.round(w / scales), -127, 127).astype(np.int8)
        return (g.const(q), g.const(scales.astype(np.float32)))

    def product(x, w, output=None):
        if not int8:
            return g.op("MatMul", [x, w], output=output)
        q, scales = w
        xq, xscale, xzero = g.op("DynamicQuantizeLinear", [x], outputs=3)
        y = g.op("Cast", [g.op("MatMulInteger", [xq, q, xzero])], to=TensorProto.FLOAT)
        return g.op("Mul", [g.op("Mul", [y, xscale]), scales], output=output)

    def i64(*values):
        return g.const(np.array(values, dtype=np.int64))

    g = onnx_graphs.Graph("vit_b%d_random" % patch)
    if float_input:
        image = g.input("image", TensorProto.FLOAT, [1, 3, SIZE, SIZE])
        x = g.op("Transpose", [image], perm=[0, 2, 3, 1])
    else:
        image = onnx_graphs.image_input(g, SIZE)
        x = g.op("Mul", [g.op("Cast", [image], to=TensorProto.FLOAT),
                         g.const(np.float32(1 / 255))])
    grid = SIZE // patch
    x = g.op("Reshape", [x, i64(-1, grid, patch, grid, patch, 3)])
    x = g.op("Transpose", [x], perm=[0, 1, 3, 2, 4, 5])
    x = g.op("Reshape", [x, i64(-1, tokens, patch * patch * 3)])
    x = g.op("Add", [product(x, constant(weight(patch * patch * 3, WIDTH))),
                     g.const(weight(tokens, WIDTH))])

    gamma = g.const(np.ones(WIDTH, np.float32))
    beta = g.const(np.zeros(WIDTH, np.float32))
    w_qkv, w_out = constant(weight(WIDTH, 3 * WIDTH)), constant(weight(WIDTH, WIDTH))
    w_up, w_down = constant(weight(WIDTH, MLP)), constant(weight(MLP, WIDTH))
    scale = g.const(np.float32(1 / np.sqrt(WIDTH // HEADS)))
    gelu = g.const(np.float32(1.702))

    def norm(v):
        return g.op("LayerNormalization", [v, gamma, beta], axis=-1)

    for _ in range(BLOCKS):
        qkv = product(norm(x), w_qkv)
        qkv = g.op("Reshape", [qkv, i64(-1, tokens, 3, HEADS, WIDTH // HEADS)])
        qkv = g.op("Transpose", [qkv], perm=[2, 0, 3, 1, 4])  # 3, N, heads, tokens, 64
        q, k, v = (g.op("Gather", [qkv, g.const(np.array(i, np.int64))], axis=0) for i in range(3))
        scores = g.op("Mul", [g.op("MatMul", [q, g.op("Transpose", [k], perm=[0, 1, 3, 2])]), scale])
        attended = g.op("MatMul", [g.op("Softmax", [scores], axis=-1), v])
        attended = g.op("Reshape", [g.op("Transpose", [attended], perm=[0, 2, 1, 3]),
                                    i64(-1, tokens, WIDTH)])
        x = g.op("Add", [x, product(attended, w_out)])
        up = product(norm(x), w_up)
        up = g.op("Mul", [up, g.op("Sigmoid", [g.op("Mul", [up, gelu])])])
        x = g.op("Add", [x, product(up, w_down)])

    first = g.op("Gather", [norm(x), g.const(np.array(0, np.int64))], axis=1)
    product(first, constant(weight(WIDTH, WIDTH)), output="embedding")
    g.output("embedding", TensorProto.FLOAT, [1 if float_input else "N", WIDTH])
    return g


def main():
    parser = argparse.ArgumentParser()
    kind = parser.add_mutually_exclusive_group()
    kind.add_argument("--int8", action="store_true")
    kind.add_argument("--fp16", action="store_true")
    parser.add_argument("--patch", type=int, choices=(16, 32), default=PATCH)
    parser.add_argument("out")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    graph(int8=args.int8, patch=args.patch).save(os.path.join(args.out, "ImageEncoder.onnx"),
                                                 "all" if args.fp16 else None)
    info = {"hf": "benchmark/vit-b%d-random" % args.patch, "kind": "benchmark", "imageSize": SIZE,
            "contextLength": 64, "dim": WIDTH, "logitScale": 10, "logitBias": -10,
            "lowercase": True, "padId": 0, "eosId": 1, "resize": "crop", "batch": 16}
    with open(os.path.join(args.out, "model.json"), "w") as f:
        json.dump(info, f, indent=2)


if __name__ == "__main__":
    main()
