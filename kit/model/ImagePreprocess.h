// SPDX-License-Identifier: GPL-3.0-or-later
// The image encoder's input for encoders that take float pixels: a picture fitted into the
// square as for byte input, then each value scaled to 0..1, less the channel's mean, divided by
// its standard deviation, laid out NCHW or NHWC as model.json says.
#pragma once

#include <cstdint>
#include <vector>

#include "core/Picture.h"
#include "model/ModelInfo.h"

namespace quillmere {

class ImagePreprocess {
 public:
  // Floats of one image: imageSize x imageSize x 3.
  static std::size_t floatsPerImage(const ModelInfo& info);
  // One fitted RGB8 square (imageSize² x 3 bytes) to `out`, floatsPerImage values.
  static void normalise(const ModelInfo& info, const std::uint8_t* rgb, float* out);
  // Fits and normalises one picture; empty when it can't be drawn.
  static std::vector<float> prepare(const ModelInfo& info, const Picture& picture);
};

}  // namespace quillmere
