// SPDX-License-Identifier: GPL-3.0-or-later
// The text read in one picture (a photo, or a video frame).
#pragma once

#include <vector>

#include "core/TextLine.h"

namespace quillmere {

struct PictureText {
  std::vector<TextLine> lines;  // in reading order: top to bottom, then left to right
  // Set when the picture held more boxes than the reader takes: the rest were not read.
  bool capped = false;

  bool operator==(const PictureText&) const = default;
};

}  // namespace quillmere
