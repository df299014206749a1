// SPDX-License-Identifier: GPL-3.0-or-later
// A text model graph's session and its input tensors.
#include "text/TextSession.h"

#include "model/BackgroundThreads.h"
#include "model/RuntimeEnvironment.h"
#include "text/TextModel.h"

namespace quillmere {
namespace {

Ort::Session openSession(const std::filesystem::path& file) {
  try {
    return Ort::Session(runtimeEnvironment(), file.c_str(), backgroundSessionOptions());
  } catch (const Ort::Exception& error) {
    throw TextModel::Failure(file.string() + ": " + error.what());
  }
}

}  // namespace

TextSession::TextSession(const std::filesystem::path& file) : session_(openSession(file)) {
  Ort::AllocatorWithDefaultOptions allocator;
  if (session_.GetInputCount() != 1 || session_.GetOutputCount() < 1)
    throw TextModel::Failure(file.string() + " is not a text model graph");
  inputName_ = session_.GetInputNameAllocated(0, allocator).get();
  outputName_ = session_.GetOutputNameAllocated(0, allocator).get();
  outputShape_ = session_.GetOutputTypeInfo(0).GetTensorTypeAndShapeInfo().GetShape();
}

Ort::Value TextSession::run(std::span<float> input, const std::array<std::int64_t, 4>& shape) {
  Ort::MemoryInfo memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  Ort::Value tensor =
      Ort::Value::CreateTensor<float>(memory, input.data(), input.size(), shape.data(), 4);
  const char* inputs[] = {inputName_.c_str()};
  const char* outputs[] = {outputName_.c_str()};
  std::vector<Ort::Value> results =
      session_.Run(Ort::RunOptions{nullptr}, inputs, &tensor, 1, outputs, 1);
  return std::move(results.front());
}

void TextSession::write(const Picture& picture, const Normalisation& normalisation,
                        std::span<float> tensor, int item, int height, int width) {
  const std::size_t plane = static_cast<std::size_t>(height) * width;
  float* base = tensor.data() + static_cast<std::size_t>(item) * 3 * plane;
  const int rows = std::min(height, picture.height);
  const int columns = std::min(width, picture.width);
  for (int c = 0; c < 3; ++c) {
    const int source = normalisation.bgr ? 2 - c : c;
    const float scale = 1.0f / (255.0f * normalisation.std[c]);
    const float offset = normalisation.mean[c] / normalisation.std[c];
    for (int y = 0; y < rows; ++y) {
      const std::uint8_t* pixel =
          picture.rgb.data() + static_cast<std::size_t>(y) * picture.width * 3;
      float* out = base + c * plane + static_cast<std::size_t>(y) * width;
      for (int x = 0; x < columns; ++x) out[x] = pixel[x * 3 + source] * scale - offset;
    }
  }
}

}  // namespace quillmere
