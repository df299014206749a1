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

    def save(self, path):
        graph = helper.make_graph(self.nodes, self.name, self.inputs, self.outputs,
                                  self.initializers)
        model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)],
                                  producer_name="quillmere-tools")
        model.ir_version = IR_VERSION
        onnx.checker.check_model(model)
        onnx.save(model, path)


def image_input(graph, size):
    return graph.input("image", TensorProto.UINT8, ["N", size, size, 3])


def text_input(graph, context_length, elem_type=TensorProto.INT32):
    return graph.input("input_ids", elem_type, [1, context_length])
