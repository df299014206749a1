#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Converts a TF.js graph model (model.json and its weight shards, quantised or not) to ONNX.

The ONNX graph takes float32 pixels [N, S, S, 3] (rows top to bottom, as TF.js takes them) and
runs everything else channels-first, the layout ONNX Runtime's convolutions are fastest in:
one transpose at the input, weights transposed here, and an activation turned back only where
the TF.js graph depends on its memory order (Reshape). The batch size is left free.

--output NAME=A,B,... names an output, the TF.js outputs A, B, ... joined along axis 1 (the
detector's two anchor grids become one list). --unfold-prelu drops a ReLU that the TF.js
converter folded into a convolution whose output also feeds a PReLU written as
relu(x) + alpha * (x - |x|): folded, the PReLU's negative half never sees a negative value.

  convert_tfjs_graph.py [--output NAME=A,B] [--unfold-prelu] MODEL_JSON OUTPUT_ONNX
"""

import argparse
import base64
import json
import os

import numpy as np
from onnx import TensorProto

import onnx_graphs

# TF.js channel-last axis -> its place channels-first.
NHWC_TO_NCHW = [0, 2, 3, 1]
DTYPES = {"float32": np.float32, "int32": np.int32, "bool": np.bool_}
QUANTISED = {"uint8": np.uint8, "uint16": np.uint16, "float16": np.float16}


def load_weights(model_json):
    """Every weight of the manifest by name, dequantised to its stated dtype."""
    folder = os.path.dirname(model_json)
    with open(model_json) as f:
        model = json.load(f)
    weights = {}
    for group in model["weightsManifest"]:
        data = b"".join(open(os.path.join(folder, p), "rb").read() for p in group["paths"])
        offset = 0
        for entry in group["weights"]:
            shape = [int(d) for d in entry["shape"]]
            count = int(np.prod(shape))
            quantisation = entry.get("quantization")
            stored = QUANTISED[quantisation["dtype"]] if quantisation else DTYPES[entry["dtype"]]
            size = count * np.dtype(stored).itemsize
            values = np.frombuffer(data, stored, count, offset).reshape(shape)
            offset += size
            if quantisation and quantisation["dtype"] != "float16":
                values = values * quantisation["scale"] + quantisation["min"]
            weights[entry["name"]] = values.astype(DTYPES[entry["dtype"]])
    return model, weights


def attribute(node, key, default=None):
    """A node attribute as a Python value: strings decoded, lists of ints as ints."""
    value = node.get("attr", {}).get(key)
    if value is None:
        return default
    if "s" in value:
        return base64.b64decode(value["s"]).decode()
    if "list" in value:
        items = value["list"]
        if "s" in items:
            return [base64.b64decode(s).decode() for s in items["s"]]
        return [int(i) for i in items.get("i", [])]
    if "i" in value:
        return int(value["i"])
    if "f" in value:
        return float(value["f"])
    if "b" in value:
        return bool(value["b"])
    return default


class Tensor:
    """A converted value: its ONNX name and, for activations, [H, W, C] as TF.js sees them
    (None for values that are not channel-first images); other values know their shape,
    the batch as "N"."""

    def __init__(self, name, hwc=None, constant=None, shape=None):
        self._name = name
        self.hwc = hwc
        self.constant = constant
        self.shape = shape

    @property
    def name(self):
        """Constants become initialisers only where used as they are, not transposed."""
        if callable(self._name):
            self._name = self._name()
        return self._name


class Converter:
    def __init__(self, model, weights, unfold_prelu):
        self.graph = onnx_graphs.Graph("tfjs")
        self.nodes = {n["name"]: n for n in model["modelTopology"]["node"]}
        self.weights = weights
        self.unfold_prelu = unfold_prelu
        self.values = {}
        self.consumers = {}
        for node in self.nodes.values():
            for source in node.get("input", []):
                self.consumers.setdefault(self.source(source), []).append(node)

    @staticmethod
    def source(name):
        return name.split(":")[0].lstrip("^")

    def value(self, name):
        name = self.source(name)
        if name not in self.values:
            self.values[name] = self.convert(self.nodes[name])
        return self.values[name]

    def constant(self, name):
        tensor = self.value(name)
        if tensor.constant is None:
            raise ValueError("%s must be a constant" % name)
        return tensor.constant

    def convert(self, node):
        op = node["op"]
        handler = getattr(self, "op_" + op.lstrip("_"), None)
        if handler is None:
            raise ValueError("unsupported TF.js op %s (%s)" % (op, node["name"]))
        return handler(node)

    # Inputs and constants.

    def op_Placeholder(self, node):
        dims = node["attr"]["shape"]["shape"]["dim"]
        height, width, channels = (int(d["size"]) for d in dims[1:])
        pixels = self.graph.input("image", TensorProto.FLOAT, ["N", height, width, channels])
        name = self.graph.op("Transpose", [pixels], perm=[0, 3, 1, 2])
        return Tensor(name, [height, width, channels])

    def op_Const(self, node):
        array = self.weights[node["name"]]
        return Tensor(lambda: self.graph.const(array, "weight"), constant=array,
                      shape=list(array.shape))

    def op_Identity(self, node):
        return self.value(node["input"][0])

    # Convolutions with what the converter fused into them.

    def op_FusedConv2D(self, node):
        return self.convolution(node, depthwise=False)

    def op_Conv2D(self, node):
        return self.convolution(node, depthwise=False)

    def op_FusedDepthwiseConv2dNative(self, node):
        return self.convolution(node, depthwise=True)

    def op_DepthwiseConv2dNative(self, node):
        return self.convolution(node, depthwise=True)

    def convolution(self, node, depthwise):
        x = self.value(node["input"][0])
        kernel = self.constant(node["input"][1])
        kh, kw = kernel.shape[:2]
        if depthwise:
            channels, multiplier = kernel.shape[2:]
            weight = kernel.transpose(2, 3, 0, 1).reshape(channels * multiplier, 1, kh, kw)
            group, out_channels = channels, channels * multiplier
        else:
            weight = kernel.transpose(3, 2, 0, 1)
            group, out_channels = 1, kernel.shape[3]
        strides = attribute(node, "strides", [1, 1, 1, 1])[1:3]
        dilations = attribute(node, "dilations", [1, 1, 1, 1])[1:3]
        pads, hw = self.window(x.hwc[:2], (kh, kw), strides, dilations, attribute(node, "padding"))
        inputs = [x.name, self.graph.const(weight.astype(np.float32), "weight")]
        fused = attribute(node, "fused_ops", [])
        if fused and fused[0] == "BiasAdd":
            inputs.append(self.value(node["input"][2]).name)
            fused = fused[1:]
        name = self.graph.op("Conv", inputs, kernel_shape=[kh, kw], strides=strides,
                             dilations=dilations, pads=pads, group=group)
        result = Tensor(name, hw + [out_channels])
        extra = node["input"][3:] if len(node["input"]) > 3 else []
        for activation in fused:
            if activation == "Relu" and self.unfold_prelu and self.feeds_prelu(node):
                continue
            result = self.activation(activation, result, extra, node)
        return result

    def feeds_prelu(self, node):
        return any(c["op"] == "Abs" for c in self.consumers.get(node["name"], []))

    def activation(self, kind, x, extra, node):
        if kind == "Relu":
            return Tensor(self.graph.op("Relu", [x.name]), x.hwc)
        if kind == "Relu6":
            low, high = self.graph.const(np.float32(0)), self.graph.const(np.float32(6))
            return Tensor(self.graph.op("Clip", [x.name, low, high]), x.hwc)
        if kind == "Prelu":
            alpha = self.channel_constant(self.constant(extra[0]), x)
            return Tensor(self.graph.op("PRelu", [x.name, alpha]), x.hwc)
        if kind == "LeakyRelu":
            alpha = attribute(node, "leakyrelu_alpha", 0.2)
            return Tensor(self.graph.op("LeakyRelu", [x.name], alpha=alpha), x.hwc)
        raise ValueError("unsupported fused activation %s (%s)" % (kind, node["name"]))

    @staticmethod
    def window(hw, kernel, strides, dilations, padding):
        """ONNX pads [top, left, bottom, right] and the output [H, W] of a TF window; SAME puts
        the odd pixel at the end, as TF does."""
        begins, ends, out = [], [], []
        for size, k, s, d in zip(hw, kernel, strides, dilations):
            extent = (k - 1) * d + 1
            if padding == "SAME":
                n = -(-size // s)
                total = max((n - 1) * s + extent - size, 0)
                begins.append(total // 2)
                ends.append(total - total // 2)
            elif padding == "VALID":
                n = (size - extent) // s + 1
                begins.append(0)
                ends.append(0)
            else:
                raise ValueError("unsupported padding %s" % padding)
            out.append(n)
        return begins + ends, out

    def op_MaxPool(self, node):
        return self.pool(node, "MaxPool")

    def op_AvgPool(self, node):
        return self.pool(node, "AveragePool")

    def pool(self, node, onnx_op):
        x = self.value(node["input"][0])
        kernel = attribute(node, "ksize")[1:3]
        strides = attribute(node, "strides")[1:3]
        pads, hw = self.window(x.hwc[:2], kernel, strides, [1, 1], attribute(node, "padding"))
        extra = {"count_include_pad": 0} if onnx_op == "AveragePool" else {}
        name = self.graph.op(onnx_op, [x.name], kernel_shape=kernel, strides=strides, pads=pads,
                             **extra)
        return Tensor(name, hw + [x.hwc[2]])

    # Element-wise arithmetic, constants broadcast along channels.

    def channel_constant(self, array, like):
        """A constant ready to broadcast against `like`: channel vectors become [C, 1, 1]."""
        if like.hwc is not None and array.ndim >= 1 and array.size > 1:
            array = array.reshape(-1, 1, 1)
        return self.graph.const(np.ascontiguousarray(array), "weight")

    def binary(self, node, onnx_op):
        a, b = (self.value(i) for i in node["input"][:2])
        names = []
        for this, other in ((a, b), (b, a)):
            if this.constant is not None:
                names.append(self.channel_constant(this.constant, other))
            else:
                names.append(this.name)
        return Tensor(self.graph.op(onnx_op, names), a.hwc or b.hwc, shape=a.shape or b.shape)

    def op_Add(self, node):
        return self.binary(node, "Add")

    def op_AddV2(self, node):
        return self.binary(node, "Add")

    def op_Sub(self, node):
        return self.binary(node, "Sub")

    def op_Mul(self, node):
        return self.binary(node, "Mul")

    def op_RealDiv(self, node):
        return self.binary(node, "Div")

    def op_Maximum(self, node):
        return self.binary(node, "Max")

    def op_Minimum(self, node):
        return self.binary(node, "Min")

    def op_Prelu(self, node):
        return self.binary(node, "PRelu")

    def unary(self, node, onnx_op):
        x = self.value(node["input"][0])
        return Tensor(self.graph.op(onnx_op, [x.name]), x.hwc, shape=x.shape)

    def op_Relu(self, node):
        return self.unary(node, "Relu")

    def op_Abs(self, node):
        return self.unary(node, "Abs")

    def op_Sigmoid(self, node):
        return self.unary(node, "Sigmoid")

    def op_Tanh(self, node):
        return self.unary(node, "Tanh")

    def op_Square(self, node):
        x = self.value(node["input"][0])
        return Tensor(self.graph.op("Mul", [x.name, x.name]), x.hwc, shape=x.shape)

    def op_Rsqrt(self, node):
        x = self.value(node["input"][0])
        name = self.graph.op("Reciprocal", [self.graph.op("Sqrt", [x.name])])
        return Tensor(name, x.hwc, shape=x.shape)

    # Shapes: axes are TF.js's, moved to where the channels-first value holds them.

    def axes(self, x, axes):
        axes = [int(a) for a in np.atleast_1d(axes)]
        if x.hwc is None:
            return axes
        return [NHWC_TO_NCHW[a % 4] for a in axes]

    def op_Pad(self, node):
        x = self.value(node["input"][0])
        paddings = self.constant(node["input"][1]).astype(np.int64)
        if x.hwc is not None:
            paddings = paddings[[0, 3, 1, 2]]
            hwc = [x.hwc[0] + paddings[2].sum(), x.hwc[1] + paddings[3].sum(),
                   x.hwc[2] + paddings[1].sum()]
        else:
            hwc = None
        pads = self.graph.const(np.concatenate([paddings[:, 0], paddings[:, 1]]), "pads")
        return Tensor(self.graph.op("Pad", [x.name, pads]), [int(v) for v in hwc] if hwc else None)

    def op_Reshape(self, node):
        x = self.value(node["input"][0])
        shape = self.constant(node["input"][1]).astype(np.int64).copy()
        name = x.name
        if x.hwc is not None:
            name = self.graph.op("Transpose", [name], perm=[0, 2, 3, 1])
        # The first dimension is the batch: keep the input's.
        shape[0] = 0
        name = self.graph.op("Reshape", [name, self.graph.const(shape, "shape")])
        return Tensor(name, shape=["N"] + [int(d) for d in shape[1:]])

    def op_Squeeze(self, node):
        x = self.value(node["input"][0])
        axes = self.axes(x, attribute(node, "squeeze_dims"))
        shape = self.full_shape(x)
        kept = [d for k, d in enumerate(shape) if k not in axes]
        name = self.graph.op("Squeeze", [x.name, self.graph.const(np.array(axes, np.int64))])
        return Tensor(name, shape=kept)

    @staticmethod
    def full_shape(x):
        if x.hwc is not None:
            return ["N", x.hwc[2], x.hwc[0], x.hwc[1]]
        return list(x.shape)

    def op_Sum(self, node):
        return self.reduce(node, "ReduceSum")

    def op_Mean(self, node):
        return self.reduce(node, "ReduceMean")

    def reduce(self, node, onnx_op):
        x = self.value(node["input"][0])
        keep = attribute(node, "keep_dims", False)
        axes = self.axes(x, self.constant(node["input"][1]))
        if onnx_op == "ReduceSum":
            name = self.graph.op(onnx_op, [x.name, self.graph.const(np.array(axes, np.int64))],
                                 keepdims=int(keep))
        else:
            name = self.graph.op(onnx_op, [x.name], axes=axes, keepdims=int(keep))
        shape = [1 if k in axes else d for k, d in enumerate(self.full_shape(x))]
        if not keep:
            shape = [d for k, d in enumerate(self.full_shape(x)) if k not in axes]
        return Tensor(name, x.hwc if keep else None, shape=None if x.hwc and keep else shape)

    def op_ConcatV2(self, node):
        parts = [self.value(i) for i in node["input"][:-1]]
        axis = self.axes(parts[0], self.constant(node["input"][-1]))[0]
        name = self.graph.op("Concat", [p.name for p in parts], axis=axis)
        if parts[0].hwc is not None:
            return Tensor(name, parts[0].hwc[:2] + [sum(p.hwc[2] for p in parts)])
        shape = list(parts[0].shape)
        shape[axis] = sum(p.shape[axis] for p in parts)
        return Tensor(name, shape=shape)


def outputs_of(model):
    """The graph's outputs as the signature lists them, sorted by name."""
    signature = model.get("userDefinedMetadata", {}).get("signature", {})
    names = sorted(o["name"].split(":")[0] for o in signature.get("outputs", {}).values())
    if not names:
        raise ValueError("the model names no outputs")
    return names


def convert(model_json, output, named_outputs, unfold_prelu):
    model, weights = load_weights(model_json)
    converter = Converter(model, weights, unfold_prelu)
    wanted = named_outputs or [(name, [name]) for name in outputs_of(model)]
    for name, parts in wanted:
        tensors = [converter.value(p) for p in parts]
        if any(t.hwc is not None for t in tensors):
            raise ValueError("output %s is an image; reshape it in the graph" % name)
        shape = list(tensors[0].shape)
        if len(tensors) == 1:
            converter.graph.op("Identity", [tensors[0].name], output=name)
        else:
            converter.graph.op("Concat", [t.name for t in tensors], output=name, axis=1)
            shape[1] = sum(t.shape[1] for t in tensors)
        converter.graph.output(name, TensorProto.FLOAT, shape)
    converter.graph.save(output)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--output", action="append", default=[], metavar="NAME=A,B",
                        help="an output made of these TF.js outputs, joined along axis 1")
    parser.add_argument("--unfold-prelu", action="store_true",
                        help="drop ReLUs folded into a convolution that feeds a PReLU")
    parser.add_argument("model_json")
    parser.add_argument("onnx")
    arguments = parser.parse_args()
    named = []
    for item in arguments.output:
        name, _, parts = item.partition("=")
        named.append((name, parts.split(",")))
    convert(arguments.model_json, arguments.onnx, named, arguments.unfold_prelu)


if __name__ == "__main__":
    main()
