// SPDX-License-Identifier: GPL-3.0-or-later
// The widening walks every place an ONNX graph names an element type: weights, constants,
// the types of inputs, outputs and intermediate values, casts, and the subgraphs and
// functions that hold more of them.
#include "model/Float16Upcast.h"

#include <onnx/onnx_pb.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <vector>

#include "core/Float16.h"

namespace quillmere {
namespace {

constexpr int kHalf = onnx::TensorProto::FLOAT16;
constexpr int kFloat = onnx::TensorProto::FLOAT;

class Widening {
 public:
  std::size_t count = 0;
  std::string external;  // the name of a float16 weight stored outside the graph

  void graph(onnx::GraphProto& graph) {
    for (auto& tensor : *graph.mutable_initializer()) this->tensor(tensor);
    for (auto& sparse : *graph.mutable_sparse_initializer()) tensor(*sparse.mutable_values());
    for (auto* values : {graph.mutable_input(), graph.mutable_output(), graph.mutable_value_info()})
      for (auto& value : *values) type(*value.mutable_type());
    nodes(*graph.mutable_node());
  }

  void function(onnx::FunctionProto& function) { nodes(*function.mutable_node()); }

 private:
  void nodes(google::protobuf::RepeatedPtrField<onnx::NodeProto>& nodes) {
    for (auto& node : nodes)
      for (auto& attribute : *node.mutable_attribute()) this->attribute(attribute);
  }

  void attribute(onnx::AttributeProto& attribute) {
    // Cast's "to" and the generators' "dtype" name the type they make.
    const bool namesType = attribute.name() == "to" || attribute.name() == "dtype";
    if (namesType && attribute.has_i() && attribute.i() == kHalf) {
      attribute.set_i(kFloat);
      ++count;
    }
    if (attribute.has_t()) tensor(*attribute.mutable_t());
    for (auto& tensor : *attribute.mutable_tensors()) this->tensor(tensor);
    if (attribute.has_sparse_tensor()) tensor(*attribute.mutable_sparse_tensor()->mutable_values());
    if (attribute.has_g()) graph(*attribute.mutable_g());
    for (auto& graph : *attribute.mutable_graphs()) this->graph(graph);
    if (attribute.has_tp()) type(*attribute.mutable_tp());
  }

  void type(onnx::TypeProto& type) {
    switch (type.value_case()) {
      case onnx::TypeProto::kTensorType:
        element(*type.mutable_tensor_type());
        break;
      case onnx::TypeProto::kSparseTensorType:
        element(*type.mutable_sparse_tensor_type());
        break;
      case onnx::TypeProto::kSequenceType:
        this->type(*type.mutable_sequence_type()->mutable_elem_type());
        break;
      case onnx::TypeProto::kMapType:
        this->type(*type.mutable_map_type()->mutable_value_type());
        break;
      case onnx::TypeProto::kOptionalType:
        this->type(*type.mutable_optional_type()->mutable_elem_type());
        break;
      default:
        break;
    }
  }

  template <typename Tensor>
  void element(Tensor& tensor) {
    if (tensor.elem_type() != kHalf) return;
    tensor.set_elem_type(kFloat);
    ++count;
  }

  void tensor(onnx::TensorProto& tensor) {
    if (tensor.data_type() != kHalf) return;
    if (tensor.data_location() == onnx::TensorProto::EXTERNAL) {
      external = tensor.name();
      return;
    }
    std::vector<Half> halves;
    if (tensor.has_raw_data()) {
      // Little-endian, as ONNX stores raw data and as this processor reads it.
      halves.resize(tensor.raw_data().size() / sizeof(Half));
      std::memcpy(halves.data(), tensor.raw_data().data(), halves.size() * sizeof(Half));
    } else {
      // Without raw data, each half's bits sit in an int32 of their own.
      halves.reserve(tensor.int32_data_size());
      for (const auto bits : tensor.int32_data()) halves.push_back(static_cast<Half>(bits));
    }
    const std::vector<float> floats = floatsFromHalves(halves);
    tensor.clear_int32_data();
    tensor.set_raw_data(floats.data(), floats.size() * sizeof(float));
    tensor.set_data_type(kFloat);
    ++count;
  }
};

}  // namespace

Float16Upcast::Float16Upcast(const std::filesystem::path& source)
    : model_(std::make_unique<onnx::ModelProto>()) {
  std::ifstream file(source, std::ios::binary);
  if (!file || !model_->ParseFromIstream(&file)) return;
  Widening widening;
  widening.graph(*model_->mutable_graph());
  for (auto& function : *model_->mutable_functions()) widening.function(function);
  widened_ = widening.count;
  external_ = widening.external;
}

Float16Upcast::~Float16Upcast() = default;

void Float16Upcast::write(const std::filesystem::path& target) const {
  if (!external_.empty()) {
    throw Failure("its float16 weight \"" + external_ + "\" is kept in a file of its own");
  }
  if (model_->ByteSizeLong() > static_cast<std::size_t>(INT_MAX)) {
    throw Failure("in float32 it would pass the 2 GB an ONNX file holds");
  }
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  if (!out || !model_->SerializeToOstream(&out) || !out.flush()) {
    throw Failure("cannot write " + target.string());
  }
}

}  // namespace quillmere
