// SPDX-License-Identifier: GPL-3.0-or-later
// The faces found in one picture (a photo, or a video frame).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/FaceRecord.h"

namespace quillmere {

struct PictureFaces {
  std::vector<FaceRecord> faces;  // best score first
  // Set when the picture held more faces than the stage keeps: the rest were dropped.
  bool capped = false;

  // The bytes the library keeps: a versioned CBOR array, the vector as its halves' bytes.
  std::vector<std::uint8_t> encoded() const;
  // What encoded made; bytes that are damaged, of another version or not such a record at
  // all read as no faces. Never throws.
  static PictureFaces decoded(std::span<const std::uint8_t> bytes);

  bool operator==(const PictureFaces&) const = default;
};

}  // namespace quillmere
