#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Builds dlib's ResNet face recogniser as ONNX from the weights @vladmandic/face-api publishes.

face-api ships the network as weights only (face_recognition_model-weights_manifest.json and its
shard), its layers written out in code: a 7 x 7 convolution down, a 3 x 3 max pool, then residual
blocks at 32, 64, 128 and 256 channels, each convolution followed by a scale layer (x * w + b),
the blocks that halve the size adding an average-pooled shortcut padded with zero channels, and
last a mean over the picture and a 256 x 128 matrix. This rebuilds that graph layer for layer.

The graph takes float32 pixels [N, 150, 150, 3], RGB 0..255, rows top to bottom; the mean colour
is taken off and the result divided by 255 inside, as face-api does. It gives `embedding`
[N, 128], not normalised (dlib compares these by Euclidean distance; 0.6 is its same-person line).

  convert_faceapi_resnet.py MANIFEST_JSON OUTPUT_ONNX
"""

import argparse
import json
import os

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

SIDE = 150
MEAN_RGB = [122.782, 117.001, 104.298]
QUANTISED = {"uint8": np.uint8, "uint16": np.uint16, "float16": np.float16}

# The blocks in order: name, whether it halves the size.
BLOCKS = [("conv32_1", False), ("conv32_2", False), ("conv32_3", False),
          ("conv64_down", True), ("conv64_1", False), ("conv64_2", False), ("conv64_3", False),
          ("conv128_down", True), ("conv128_1", False), ("conv128_2", False),
          ("conv256_down", True), ("conv256_1", False), ("conv256_2", False),
          ("conv256_down_out", True)]


def load_weights(manifest_json):
    """Every weight of the manifest by name, dequantised as TF.js does (q * scale + min)."""
    folder = os.path.dirname(manifest_json)
    with open(manifest_json) as f:
        manifest = json.load(f)
    weights = {}
    for group in manifest:
        data = b"".join(open(os.path.join(folder, p), "rb").read() for p in group["paths"])
        offset = 0
        for entry in group["weights"]:
            count = int(np.prod(entry["shape"]))
            quantisation = entry.get("quantization")
            stored = QUANTISED[quantisation["dtype"]] if quantisation else np.float32
            values = np.frombuffer(data, stored, count, offset).reshape(entry["shape"])
            offset += count * np.dtype(stored).itemsize
            if quantisation and quantisation["dtype"] != "float16":
                values = values * quantisation["scale"] + quantisation["min"]
            weights[entry["name"]] = values.astype(np.float32)
    return weights


class Builder:
    """Collects nodes and weights; every value is channels-first [N, C, H, W]."""

    def __init__(self, weights):
        self.weights = weights
        self.nodes = []
        self.initializers = []
        self.count = 0

    def name(self, hint):
        self.count += 1
        return f"{hint}_{self.count}"

    def constant(self, hint, array):
        name = self.name(hint)
        self.initializers.append(numpy_helper.from_array(np.asarray(array, np.float32), name))
        return name

    def node(self, op, inputs, hint, **attributes):
        output = self.name(hint)
        self.nodes.append(helper.make_node(op, inputs, [output], **attributes))
        return output

    def conv_layer(self, x, prefix, stride, relu, same):
        """Convolution with bias, then the scale layer, then (maybe) a ReLU."""
        filters = self.weights[prefix + "/conv/filters"]  # [kh, kw, in, out]
        kernel = filters.shape[0]
        pad = kernel // 2 if same else 0
        out = self.node("Conv", [x, self.constant(prefix + "/filters", filters.transpose(3, 2, 0, 1)),
                                 self.constant(prefix + "/bias", self.weights[prefix + "/conv/bias"])],
                        prefix, kernel_shape=[kernel, kernel], strides=[stride, stride],
                        pads=[pad] * 4)
        scale = self.weights[prefix + "/scale/weights"].reshape(1, -1, 1, 1)
        shift = self.weights[prefix + "/scale/biases"].reshape(1, -1, 1, 1)
        out = self.node("Mul", [out, self.constant(prefix + "/scale", scale)], prefix + "/mul")
        out = self.node("Add", [out, self.constant(prefix + "/shift", shift)], prefix + "/add")
        return self.node("Relu", [out], prefix + "/relu") if relu else out

    def residual(self, x, prefix):
        out = self.conv_layer(x, prefix + "/conv1", 1, True, True)
        out = self.conv_layer(out, prefix + "/conv2", 1, False, True)
        return self.node("Relu", [self.node("Add", [out, x], prefix + "/sum")], prefix + "/relu")

    def residual_down(self, x, prefix, size, channels):
        """Returns the block's output and its side; `size`, `channels` describe x."""
        out = self.conv_layer(x, prefix + "/conv1", 2, True, False)
        out = self.conv_layer(out, prefix + "/conv2", 1, False, True)
        out_channels = self.weights[prefix + "/conv2/conv/filters"].shape[3]
        conv_side = (size - 3) // 2 + 1
        pool_side = size // 2
        pooled = self.node("AveragePool", [x], prefix + "/pool", kernel_shape=[2, 2],
                           strides=[2, 2])
        if pool_side != conv_side:
            # face-api appends one zero row and column to the convolution's smaller output.
            grow = pool_side - conv_side
            out = self.pad(out, [0, 0, 0, 0, 0, 0, grow, grow], prefix + "/grow")
        if out_channels != channels:
            pooled = self.pad(pooled, [0, 0, 0, 0, 0, out_channels - channels, 0, 0],
                              prefix + "/widen")
        out = self.node("Add", [out, pooled], prefix + "/sum")
        return self.node("Relu", [out], prefix + "/relu"), pool_side, out_channels

    def pad(self, x, pads, hint):
        name = self.name(hint + "/pads")
        self.initializers.append(numpy_helper.from_array(np.array(pads, np.int64), name))
        return self.node("Pad", [x, name], hint)


def build(weights):
    b = Builder(weights)
    x = b.node("Transpose", ["image"], "nchw", perm=[0, 3, 1, 2])
    x = b.node("Sub", [x, b.constant("mean", np.array(MEAN_RGB).reshape(1, 3, 1, 1))], "centre")
    x = b.node("Div", [x, b.constant("range", np.array(255.0))], "scale")
    x = b.conv_layer(x, "conv32_down", 2, True, False)
    x = b.node("MaxPool", [x], "maxpool", kernel_shape=[3, 3], strides=[2, 2])
    size = ((SIDE - 7) // 2 + 1 - 3) // 2 + 1
    channels = weights["conv32_down/conv/filters"].shape[3]
    for block, down in BLOCKS:
        if down:
            x, size, channels = b.residual_down(x, block, size, channels)
        else:
            x = b.residual(x, block)
    x = b.node("GlobalAveragePool", [x], "mean")
    x = b.node("Flatten", [x], "flatten", axis=1)
    b.nodes.append(helper.make_node("MatMul", [x, b.constant("fc", weights["fc"])], ["embedding"]))
    graph = helper.make_graph(
        b.nodes, "dlib_resnet_face_recognition",
        [helper.make_tensor_value_info("image", TensorProto.FLOAT, ["N", SIDE, SIDE, 3])],
        [helper.make_tensor_value_info("embedding", TensorProto.FLOAT,
                                       ["N", weights["fc"].shape[1]])],
        b.initializers)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 13)])
    model.ir_version = 7
    onnx.checker.check_model(model)
    return model


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("manifest")
    parser.add_argument("output")
    args = parser.parse_args()
    onnx.save(build(load_weights(args.manifest)), args.output)


if __name__ == "__main__":
    main()
