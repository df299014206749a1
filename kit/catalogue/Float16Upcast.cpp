// SPDX-License-Identifier: GPL-3.0-or-later
// The widening walks every place an ONNX graph names an element type: weights, constants,
// the types of inputs, outputs and intermediate values, casts, and the subgraphs and
// functions that hold more of them.
#include "catalogue/Float16Upcast.h"

#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <onnx/onnx_pb.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <vector>

#include "core/Float16.h"

namespace quillmere {
namespace {

constexpr int kHalf = onnx::TensorProto::FLOAT16;
constexpr int kFloat = onnx::TensorProto::FLOAT;

// The file's bytes for the parser, a block at a time, ending early once a stop is asked.
class StoppableInput : public google::protobuf::io::ZeroCopyInputStream {
 public:
  StoppableInput(std::istream& in, const ImportStop& stop) : in_(&in), stop_(stop) {}
  bool Next(const void** data, int* size) override {
    return !stop_.asked() && in_.Next(data, size);
  }
  void BackUp(int count) override { in_.BackUp(count); }
  bool Skip(int count) override { return in_.Skip(count); }
  std::int64_t ByteCount() const override { return in_.ByteCount(); }

 private:
  google::protobuf::io::IstreamInputStream in_;
  const ImportStop& stop_;
};

// The same for the writer.
class StoppableOutput : public google::protobuf::io::ZeroCopyOutputStream {
 public:
  StoppableOutput(std::ostream& out, const ImportStop& stop) : out_(&out), stop_(stop) {}
  bool Next(void** data, int* size) override { return !stop_.asked() && out_.Next(data, size); }
  void BackUp(int count) override { out_.BackUp(count); }
  std::int64_t ByteCount() const override { return out_.ByteCount(); }

 private:
  google::protobuf::io::OstreamOutputStream out_;
  const ImportStop& stop_;
};

// Halves to floats in blocks, from bytes in either form to the bytes of raw float data.
template <typename HalfAt>
void widenInto(std::size_t count, HalfAt halfAt, char* out) {
  constexpr std::size_t block = 4096;
  Half halves[block];
  float floats[block];
  for (std::size_t start = 0; start < count; start += block) {
    const std::size_t n = std::min(block, count - start);
    for (std::size_t i = 0; i < n; ++i) halves[i] = halfAt(start + i);
    floatsFromHalves(std::span<const Half>(halves, n), std::span<float>(floats, n));
    std::memcpy(out + start * sizeof(float), floats, n * sizeof(float));
  }
}

class Widening {
 public:
  explicit Widening(const ImportStop& stop) : stop_(stop) {}

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
    stop_.check();
    // The float32 bytes are the one copy made; the halves go as soon as they are read.
    std::string floats;
    if (tensor.has_raw_data()) {
      // Little-endian, as ONNX stores raw data and as this processor reads it.
      const char* raw = tensor.raw_data().data();
      const std::size_t count = tensor.raw_data().size() / sizeof(Half);
      floats.resize(count * sizeof(float));
      widenInto(
          count,
          [raw](std::size_t i) {
            Half half;
            std::memcpy(&half, raw + i * sizeof(Half), sizeof(Half));
            return half;
          },
          floats.data());
    } else {
      // Without raw data, each half's bits sit in an int32 of their own.
      const auto& bits = tensor.int32_data();
      floats.resize(static_cast<std::size_t>(bits.size()) * sizeof(float));
      widenInto(
          static_cast<std::size_t>(bits.size()),
          [&bits](std::size_t i) { return static_cast<Half>(bits[static_cast<int>(i)]); },
          floats.data());
      google::protobuf::RepeatedField<std::int32_t>().Swap(tensor.mutable_int32_data());
    }
    tensor.mutable_raw_data()->swap(floats);
    tensor.set_data_type(kFloat);
    ++count;
  }

  const ImportStop& stop_;
};

}  // namespace

Float16Upcast::Float16Upcast(const std::filesystem::path& source, ImportStop stop)
    : model_(std::make_unique<onnx::ModelProto>()), stop_(std::move(stop)) {
  std::ifstream file(source, std::ios::binary);
  if (!file) return;
  StoppableInput input(file, stop_);
  const bool parsed = model_->ParseFromZeroCopyStream(&input);
  stop_.check();
  if (!parsed) return;
  Widening widening(stop_);
  widening.graph(*model_->mutable_graph());
  for (auto& function : *model_->mutable_functions()) widening.function(function);
  widened_ = widening.count;
  external_ = widening.external;
}

Float16Upcast::~Float16Upcast() = default;

void Float16Upcast::write(const std::filesystem::path& target) const {
  if (!external_.empty()) {
    throw Failure(Failure::Reason::externalWeight, external_);
  }
  if (model_->ByteSizeLong() > static_cast<std::size_t>(INT_MAX)) {
    throw Failure(Failure::Reason::tooLarge, {});
  }
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  bool written = false;
  if (out) {
    StoppableOutput output(out, stop_);
    written = model_->SerializeToZeroCopyStream(&output);
  }  // the output's last block reaches the file here
  stop_.check();
  if (!written || !out.flush()) throw Failure(Failure::Reason::cannotWrite, target.string());
}

}  // namespace quillmere
