// SPDX-License-Identifier: GPL-3.0-or-later
// The text read in one stored picture of a file, and the look-ups both front ends make: every
// picture of a file, or the stored frame nearest a second.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/PictureText.h"

namespace quillmere {

class Library;

struct FrameText {
  double time = 0;  // seconds into the file; 0 for a photo
  PictureText text;

  // Every picture of the file in which text was read, as the library keeps them.
  static std::vector<FrameText> ofFile(Library& library, std::int64_t fileID);
  // The time of the stored frame nearest seconds; none for a file without frames.
  static std::optional<double> nearestFrame(Library& library, std::int64_t fileID, double seconds);
  // The text of the stored frame nearest seconds; no lines where nothing was read.
  static FrameText near(Library& library, std::int64_t fileID, double seconds);

  bool operator==(const FrameText&) const = default;
};

}  // namespace quillmere
