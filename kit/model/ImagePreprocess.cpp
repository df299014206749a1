// SPDX-License-Identifier: GPL-3.0-or-later
// The image encoder's float input: fitted pixels, normalised, in its channel layout.
#include "model/ImagePreprocess.h"

#include "model/PictureFitter.h"

namespace quillmere {

std::size_t ImagePreprocess::floatsPerImage(const ModelInfo& info) {
  const auto side = static_cast<std::size_t>(info.imageSize);
  return side * side * 3;
}

void ImagePreprocess::normalise(const ModelInfo& info, const std::uint8_t* rgb, float* out) {
  const std::size_t plane = floatsPerImage(info) / 3;
  float scale[3];
  float offset[3];
  for (int c = 0; c < 3; ++c) {
    scale[c] = 1.0f / (255.0f * info.standardDeviation[c]);
    offset[c] = info.mean[c] / info.standardDeviation[c];
  }
  if (info.pixels == "nchw") {
    for (std::size_t i = 0; i < plane; ++i) {
      for (int c = 0; c < 3; ++c) out[c * plane + i] = rgb[i * 3 + c] * scale[c] - offset[c];
    }
    return;
  }
  for (std::size_t i = 0; i < plane; ++i) {
    for (int c = 0; c < 3; ++c) out[i * 3 + c] = rgb[i * 3 + c] * scale[c] - offset[c];
  }
}

std::vector<float> ImagePreprocess::prepare(const ModelInfo& info, const Picture& picture) {
  if (info.imageSize < 1 || info.imageSize > 65536) return {};
  std::vector<std::uint8_t> rgb(floatsPerImage(info));
  if (!PictureFitter::draw(picture, info.imageSize, info.resize, rgb.data(), info.interpolation))
    return {};
  std::vector<float> values(rgb.size());
  normalise(info, rgb.data(), values.data());
  return values;
}

}  // namespace quillmere
