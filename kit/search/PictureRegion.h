// SPDX-License-Identifier: GPL-3.0-or-later
// A part of a picture searched by instead of the whole: a rectangle in fractions of the
// upright picture, so it means the same at any size the picture is shown or decoded at.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/ImageCodec.h"

namespace quillmere {

struct PictureRegion {
  double x = 0;  // left edge, 0-1 of the width
  double y = 0;  // top edge, 0-1 of the height
  double width = 1;
  double height = 1;
  bool operator==(const PictureRegion&) const = default;

  // How far an edge may lie outside the picture and still be taken for its border: what a
  // view's arithmetic loses to rounding.
  static constexpr double slack = 1e-6;

  // "X,Y,W,H"; nothing unless four numbers.
  static std::optional<PictureRegion> parse(std::string_view text);
  // Why the region cannot be searched by; none when it can. Values must be finite, start at 0
  // or more, have a width and height above 0 and end within the picture (up to slack).
  enum class Fault { none, notNumbers, startsOutside, empty, endsOutside };
  Fault fault() const;
  // The pixels it covers in an upright picture of this size: the edges move outward to whole
  // pixels (left and top round down, right and bottom up, each within slack of a whole pixel
  // taken as on it). Nothing when it has a fault or covers no pixel.
  std::optional<ImageCodec::Rect> pixels(int pictureWidth, int pictureHeight) const;
};

}  // namespace quillmere
