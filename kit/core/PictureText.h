// SPDX-License-Identifier: GPL-3.0-or-later
// The text read in one picture (a photo, or a video frame).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/TextLine.h"

namespace quillmere {

struct PictureText {
  std::vector<TextLine> lines;  // in reading order: top to bottom, then left to right
  // Set when the picture held more boxes than the reader takes: the rest were not read.
  bool capped = false;

  // The bytes the library keeps: a versioned CBOR array, boxes and confidences as floats.
  std::vector<std::uint8_t> encoded() const;
  // What encoded made; bytes that are damaged, of another version or not such a record at
  // all read as no text. Never throws.
  static PictureText decoded(std::span<const std::uint8_t> bytes);

  bool operator==(const PictureText&) const = default;
};

}  // namespace quillmere
