// SPDX-License-Identifier: GPL-3.0-or-later
// Cuts a turned rectangle out of a picture and lays it upright (libvips' affine warp), so a
// line of text read at an angle becomes a level strip.
#pragma once

#include <array>
#include <optional>

#include "core/Picture.h"

namespace quillmere {

class PictureWarp {
 public:
  struct Point {
    double x = 0;  // in the picture's pixels
    double y = 0;
  };

  // The quadrilateral whose corners are `corners` (the output's top left, top right, bottom
  // right, bottom left, in that order) mapped onto an upright picture `height` pixels high and
  // as wide as its proportions say, at most `maxWidth`. Pixels beyond the picture's edges
  // repeat the edge. Nothing when the corners make no area or libvips fails.
  static std::optional<Picture> cut(const Picture& picture, const std::array<Point, 4>& corners,
                                    int height, int maxWidth);
};

}  // namespace quillmere
