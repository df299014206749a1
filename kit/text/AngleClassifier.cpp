// SPDX-License-Identifier: GPL-3.0-or-later
// Lines at the classifier's height, at most its width (longer ones squeezed), in batches.
#include "text/AngleClassifier.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "platform/ImageCodec.h"

namespace quillmere {

AngleClassifier::AngleClassifier(const TextModel& model)
    : settings_(model.classifier()),
      batch_(model.recognizer().batch),
      normalisation_{{0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f}, model.bgr()},
      session_(settings_.file) {
  const auto& shape = session_.outputShape();
  if (shape.size() != 2 || shape[1] != 2)
    throw TextModel::Failure(settings_.file.string() + " does not tell two angles apart");
}

std::vector<bool> AngleClassifier::upsideDown(std::span<const Picture> strips) {
  std::vector<bool> turned(strips.size(), false);
  const int height = settings_.height, width = settings_.width;
  for (std::size_t start = 0; start < strips.size(); start += batch_) {
    const std::size_t count = std::min<std::size_t>(batch_, strips.size() - start);
    std::vector<float> input(count * 3 * height * width, 0.0f);
    for (std::size_t i = 0; i < count; ++i) {
      const Picture& strip = strips[start + i];
      const double ratio = static_cast<double>(strip.width) / strip.height;
      const int fitted = std::clamp(static_cast<int>(std::ceil(height * ratio)), 1, width);
      const auto sized = (strip.height == height && strip.width == fitted)
                             ? std::optional<Picture>(strip)
                             : ImageCodec::resize(strip, fitted, height);
      if (!sized) throw std::runtime_error("A line could not be resized for reading.");
      TextSession::write(*sized, normalisation_, input, static_cast<int>(i), height, width);
    }
    Ort::Value output = session_.run(input, {static_cast<std::int64_t>(count), 3, height, width});
    const float* scores = output.GetTensorData<float>();
    for (std::size_t i = 0; i < count; ++i) {
      // Class 1 is 180°.
      turned[start + i] =
          scores[2 * i + 1] > scores[2 * i] && scores[2 * i + 1] > settings_.threshold;
    }
  }
  return turned;
}

}  // namespace quillmere
