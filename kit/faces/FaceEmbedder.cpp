// SPDX-License-Identifier: GPL-3.0-or-later
#include "faces/FaceEmbedder.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace quillmere {

FaceEmbedder::FaceEmbedder(const FaceModel& model)
    : settings_(model.embedder()), session_(settings_.file) {
  const auto& shape = session_.outputShapes().front();
  if (shape.size() != 2 || shape[1] != settings_.dimension)
    throw FaceModel::Failure(settings_.file.string() + " does not give vectors of " +
                             std::to_string(settings_.dimension) + " numbers");
}

Picture FaceEmbedder::aligned(const Picture& picture,
                              const std::array<PictureWarp::Point, 6>& keypoints) const {
  // The eyes, nose and mouth; the ears are often hidden and the template has none.
  std::array<PictureWarp::Point, 4> from, to;
  for (std::size_t i = 0; i < from.size(); ++i) {
    from[i] = keypoints[i];
    to[i] = {settings_.alignment[i][0], settings_.alignment[i][1]};
  }
  const auto map = PictureWarp::similarity(from, to);
  auto crop = PictureWarp::warp(picture, map, settings_.side, settings_.side);
  if (!crop) throw std::runtime_error("A face could not be cut out of the picture.");
  return std::move(*crop);
}

std::vector<std::vector<float>> FaceEmbedder::embed(std::span<const Picture> crops) {
  std::vector<std::vector<float>> vectors;
  const int side = settings_.side;
  const std::size_t batch = static_cast<std::size_t>(settings_.batch);
  for (std::size_t start = 0; start < crops.size(); start += batch) {
    const std::size_t count = std::min(batch, crops.size() - start);
    std::vector<float> input(count * side * side * 3, settings_.range.low);
    for (std::size_t i = 0; i < count; ++i)
      FaceSession::write(crops[start + i], settings_.range, input, static_cast<int>(i), side);
    const auto outputs = session_.run(input, static_cast<std::int64_t>(count), side);
    const float* values = outputs.front().GetTensorData<float>();
    for (std::size_t i = 0; i < count; ++i) {
      std::vector<float> vector(values + i * settings_.dimension,
                                values + (i + 1) * settings_.dimension);
      double norm = 0;
      for (float v : vector) norm += static_cast<double>(v) * v;
      const float inverse = norm > 0 ? static_cast<float>(1 / std::sqrt(norm)) : 0.0f;
      for (float& v : vector) v *= inverse;
      vectors.push_back(std::move(vector));
    }
  }
  return vectors;
}

}  // namespace quillmere
