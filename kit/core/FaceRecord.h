// SPDX-License-Identifier: GPL-3.0-or-later
// One face found in a picture: what the face stage produces and the library stores.
#pragma once

#include <array>
#include <vector>

#include "core/Float16.h"

namespace quillmere {

struct FaceRecord {
  struct Point {
    float x = 0;  // 0 at the upright picture's left edge, 1 at its right
    float y = 0;  // 0 at the top, 1 at the bottom
    bool operator==(const Point&) const = default;
  };

  std::array<Point, 2> box;        // top left, bottom right
  std::array<Point, 6> keypoints;  // right eye, left eye, nose, mouth, right ear, left ear
  float score = 0;                 // the detector's confidence, 0..1
  float quality = 0;  // 0..1: score, size, sharpness and how frontal; low faces form no people
  std::vector<Half> vector;  // the embedder's L2-normalised output

  bool operator==(const FaceRecord&) const = default;
};

}  // namespace quillmere
