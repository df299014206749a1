// SPDX-License-Identifier: GPL-3.0-or-later
// One of the face model's graphs on ONNX Runtime: made once, on every core, at background
// priority (as the text model's graphs run), fed one float tensor of pictures, channels last,
// and giving all its outputs. Also how pictures become that tensor.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "core/Picture.h"
#include "faces/FaceModel.h"

namespace quillmere {

class FaceSession {
 public:
  // Throws FaceModel::Failure when the runtime cannot load the graph.
  explicit FaceSession(const std::filesystem::path& file);

  // Each output's declared dimensions (-1 where any size goes), in the graph's order.
  const std::vector<std::vector<std::int64_t>>& outputShapes() const { return outputShapes_; }
  // Runs the graph on [N, side, side, 3]; every output, in the graph's order. Runtime errors
  // pass through.
  std::vector<Ort::Value> run(std::span<float> input, std::int64_t count, int side);

  // Writes `picture` into item `item` of an [N, side, side, 3] tensor at its top left; the
  // rest of the item is left as it is. The picture must fit.
  static void write(const Picture& picture, const FaceModel::InputRange& range,
                    std::span<float> tensor, int item, int side);

 private:
  Ort::Session session_;
  std::string inputName_;
  std::vector<std::string> outputNames_;
  std::vector<std::vector<std::int64_t>> outputShapes_;
};

}  // namespace quillmere
