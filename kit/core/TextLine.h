// SPDX-License-Identifier: GPL-3.0-or-later
// One line of text read in a picture: what the reader produces and the library stores.
#pragma once

#include <array>
#include <string>

namespace quillmere {

struct TextLine {
  struct Point {
    float x = 0;  // 0 at the picture's left edge, 1 at its right
    float y = 0;  // 0 at the top, 1 at the bottom
    bool operator==(const Point&) const = default;
  };

  std::string text;          // UTF-8, as read
  std::array<Point, 4> box;  // clockwise from the top left of the text as it reads, upright picture
  float confidence = 0;      // the recogniser's mean probability, 0..1

  bool operator==(const TextLine&) const = default;
};

}  // namespace quillmere
