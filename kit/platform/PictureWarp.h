// SPDX-License-Identifier: GPL-3.0-or-later
// Cuts a turned rectangle out of a picture and lays it upright (libvips' affine warp), so a
// line of text read at an angle becomes a level strip; and warps a picture by any affine map
// (a face turned and scaled so that its eyes, nose and mouth land where an embedder wants).
#pragma once

#include <array>
#include <optional>
#include <span>

#include "core/Picture.h"

namespace quillmere {

class PictureWarp {
 public:
  struct Point {
    double x = 0;  // in the picture's pixels
    double y = 0;
  };

  // Output = [a b; c d] * input + (x, y), in pixels.
  struct Affine {
    double a = 1, b = 0, c = 0, d = 1;
    double x = 0, y = 0;
    Point operator()(const Point& p) const {
      return {a * p.x + b * p.y + x, c * p.x + d * p.y + y};
    }
    double scale() const;  // how much lengths grow, on average
  };

  // The turn, uniform scale and shift that best maps `from` onto `to` (least squares, no
  // mirroring). The identity when `from` has fewer than two distinct points or sizes differ.
  static Affine similarity(std::span<const Point> from, std::span<const Point> to);
  // The picture under `map`, width x height from the output's origin. A map that shrinks much
  // first reduces the part it needs with a filter, so the output is not aliased. Pixels beyond
  // the picture's edges repeat the edge. Nothing when the map is singular or libvips fails.
  static std::optional<Picture> warp(const Picture& picture, const Affine& map, int width,
                                     int height);

  // The quadrilateral whose corners are `corners` (the output's top left, top right, bottom
  // right, bottom left, in that order) mapped onto an upright picture `height` pixels high and
  // as wide as its proportions say, at most `maxWidth`. Pixels beyond the picture's edges
  // repeat the edge. Nothing when the corners make no area or libvips fails.
  static std::optional<Picture> cut(const Picture& picture, const std::array<Point, 4>& corners,
                                    int height, int maxWidth);
};

}  // namespace quillmere
