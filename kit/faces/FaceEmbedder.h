// SPDX-License-Identifier: GPL-3.0-or-later
// Turns faces into vectors with the face model's embedder: each face is aligned first, turned,
// scaled and shifted so that its eyes, nose and mouth land on the points the embedder was
// trained with, then embedded in batches; vectors come out L2-normalised. Thread-compatible.
#pragma once

#include <array>
#include <span>
#include <vector>

#include "core/Picture.h"
#include "faces/FaceModel.h"
#include "faces/FaceSession.h"
#include "platform/PictureWarp.h"

namespace quillmere {

class FaceEmbedder {
 public:
  // Throws FaceModel::Failure when the graph cannot be loaded or gives vectors of another size.
  explicit FaceEmbedder(const FaceModel& model);

  // The embedder's square input cut from `picture` around a face with these keypoints (in
  // FaceRecord's order, picture pixels). Throws when libvips cannot warp the picture.
  Picture aligned(const Picture& picture, const std::array<PictureWarp::Point, 6>& keypoints) const;
  // One L2-normalised vector per crop, each crop at the input's side.
  std::vector<std::vector<float>> embed(std::span<const Picture> crops);
  int side() const { return settings_.side; }

 private:
  FaceModel::Embedder settings_;
  FaceSession session_;
};

}  // namespace quillmere
