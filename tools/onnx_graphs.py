# SPDX-License-Identifier: GPL-3.0-or-later
"""Small helpers for building ONNX graphs with python3-onnx (opset 17, IR version 8)."""

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

OPSET = 17
IR_VERSION = 8


class Graph:
    def __init__(self, name):
        self.name = name
        self.nodes = []
        self.initializers = []
        self.inputs = []
        self.outputs = []
        self.count = 0

    def fresh(self, stem):
        self.count += 1
        return "%s_%d" % (stem, self.count)

    def input(self, name, elem_type, shape):
        self.inputs.append(helper.make_tensor_value_info(name, elem_type, shape))
        return name

    def output(self, name, elem_type, shape):
        self.outputs.append(helper.make_tensor_value_info(name, elem_type, shape))

    def const(self, array, stem="const"):
        name = self.fresh(stem)
        self.initializers.append(numpy_helper.from_array(np.asarray(array), name))
        return name

    def op(self, op_type, inputs, output=None, outputs=1, **attributes):
        """The node's output name, or a list of `outputs` names when it has several."""
        if outputs > 1:
            names = [self.fresh(op_type.lower()) for _ in range(outputs)]
            self.nodes.append(helper.make_node(op_type, inputs, names, **attributes))
            return names
        output = output or self.fresh(op_type.lower())
        self.nodes.append(helper.make_node(op_type, inputs, [output], **attributes))
        return output

    def save(self, path, float16=None):
        """float16: "all" turns the graph into float16 throughout, its float inputs and
        outputs included; "inside" keeps those float32 behind casts. The published fp16
        exports come in both forms."""
        graph = helper.make_graph(self.nodes, self.name, self.inputs, self.outputs,
                                  self.initializers)
        model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)],
                                  producer_name="quillmere-tools")
        model.ir_version = IR_VERSION
        if float16:
            to_float16(model.graph, keep_io=float16 == "inside")
        onnx.checker.check_model(model)
        onnx.save(model, path)


def half_tensor(tensor):
    tensor.CopyFrom(numpy_helper.from_array(
        numpy_helper.to_array(tensor).astype(np.float16), tensor.name))


def to_float16(graph, keep_io):
    """Every float32 weight, constant, cast and input or output type of `graph` in float16."""
    for tensor in graph.initializer:
        if tensor.data_type == TensorProto.FLOAT:
            half_tensor(tensor)
    for node in graph.node:
        for attribute in node.attribute:
            if attribute.name == "to" and attribute.i == TensorProto.FLOAT:
                attribute.i = TensorProto.FLOAT16
            if attribute.HasField("t") and attribute.t.data_type == TensorProto.FLOAT:
                half_tensor(attribute.t)
    first, last = [], []
    for values, is_input in ((graph.input, True), (graph.output, False)):
        for value in values:
            if value.type.tensor_type.elem_type != TensorProto.FLOAT:
                continue
            if not keep_io:
                value.type.tensor_type.elem_type = TensorProto.FLOAT16
                continue
            half = value.name + "_fp16"
            for node in graph.node:
                names = node.input if is_input else node.output
                for k, name in enumerate(names):
                    if name == value.name:
                        names[k] = half
            if is_input:
                first.append(helper.make_node("Cast", [value.name], [half],
                                              to=TensorProto.FLOAT16))
            else:
                last.append(helper.make_node("Cast", [half], [value.name],
                                             to=TensorProto.FLOAT))
    nodes = first + list(graph.node) + last
    del graph.node[:]
    graph.node.extend(nodes)


def image_input(graph, size):
    return graph.input("image", TensorProto.UINT8, ["N", size, size, 3])


def text_input(graph, context_length, elem_type=TensorProto.INT32):
    return graph.input("input_ids", elem_type, [1, context_length])
