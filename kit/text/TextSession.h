// SPDX-License-Identifier: GPL-3.0-or-later
// One of the text model's graphs on ONNX Runtime: made once, on every core (as the image
// encoder runs), run with one float tensor in and its first output out. Also how pictures
// become that tensor: planar, normalised per channel, in the model's channel order.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "core/Picture.h"

namespace quillmere {

class TextSession {
 public:
  // (value / 255 - mean) / std, channel by channel, in the tensor's channel order.
  struct Normalisation {
    std::array<float, 3> mean{0.5f, 0.5f, 0.5f};
    std::array<float, 3> std{0.5f, 0.5f, 0.5f};
    bool bgr = true;
  };

  // Throws TextModel::Failure when the runtime cannot load the graph.
  explicit TextSession(const std::filesystem::path& file);

  // The first output's declared dimensions (-1 where any size goes).
  const std::vector<std::int64_t>& outputShape() const { return outputShape_; }
  // Runs the graph; the input is [N, 3, H, W]. Runtime errors pass through.
  Ort::Value run(std::span<float> input, const std::array<std::int64_t, 4>& shape);

  // Writes `picture` into item `item` of an [N, 3, height, width] tensor at its top left; the
  // rest of the item is left as it is (zero: the normalised mid grey). The picture must fit.
  static void write(const Picture& picture, const Normalisation& normalisation,
                    std::span<float> tensor, int item, int height, int width);

 private:
  Ort::Session session_;
  std::string inputName_;
  std::string outputName_;
  std::vector<std::int64_t> outputShape_;
};

}  // namespace quillmere
