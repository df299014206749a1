// SPDX-License-Identifier: GPL-3.0-or-later
// A face model graph's session and its input tensors.
#include "faces/FaceSession.h"

#include "model/BackgroundThreads.h"
#include "model/RuntimeEnvironment.h"

namespace quillmere {
namespace {

Ort::Session openSession(const std::filesystem::path& file) {
  try {
    return Ort::Session(runtimeEnvironment(), file.c_str(), backgroundSessionOptions());
  } catch (const Ort::Exception& error) {
    throw FaceModel::Failure(file.string() + ": " + error.what());
  }
}

}  // namespace

FaceSession::FaceSession(const std::filesystem::path& file) : session_(openSession(file)) {
  Ort::AllocatorWithDefaultOptions allocator;
  if (session_.GetInputCount() != 1 || session_.GetOutputCount() < 1)
    throw FaceModel::Failure(file.string() + " is not a face model graph");
  inputName_ = session_.GetInputNameAllocated(0, allocator).get();
  for (std::size_t i = 0; i < session_.GetOutputCount(); ++i) {
    outputNames_.push_back(session_.GetOutputNameAllocated(i, allocator).get());
    outputShapes_.push_back(session_.GetOutputTypeInfo(i).GetTensorTypeAndShapeInfo().GetShape());
  }
}

std::vector<Ort::Value> FaceSession::run(std::span<float> input, std::int64_t count, int side) {
  Ort::MemoryInfo memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  const std::array<std::int64_t, 4> shape{count, side, side, 3};
  Ort::Value tensor =
      Ort::Value::CreateTensor<float>(memory, input.data(), input.size(), shape.data(), 4);
  const char* inputs[] = {inputName_.c_str()};
  std::vector<const char*> outputs;
  for (const auto& name : outputNames_) outputs.push_back(name.c_str());
  return session_.Run(Ort::RunOptions{nullptr}, inputs, &tensor, 1, outputs.data(), outputs.size());
}

void FaceSession::write(const Picture& picture, const FaceModel::InputRange& range,
                        std::span<float> tensor, int item, int side) {
  const std::size_t plane = static_cast<std::size_t>(side) * side * 3;
  float* base = tensor.data() + static_cast<std::size_t>(item) * plane;
  const float scale = (range.high - range.low) / 255.0f;
  const int rows = std::min(side, picture.height);
  const int columns = std::min(side, picture.width);
  for (int y = 0; y < rows; ++y) {
    const std::uint8_t* pixel =
        picture.rgb.data() + static_cast<std::size_t>(y) * picture.width * 3;
    float* out = base + static_cast<std::size_t>(y) * side * 3;
    for (int x = 0; x < columns; ++x) {
      for (int c = 0; c < 3; ++c) {
        const int source = range.bgr ? 2 - c : c;
        out[x * 3 + c] = pixel[x * 3 + source] * scale + range.low;
      }
    }
  }
}

}  // namespace quillmere
