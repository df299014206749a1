// SPDX-License-Identifier: GPL-3.0-or-later
// A decoded picture: what the frame sampler produces and the embedder consumes.
#pragma once

#include <cstdint>
#include <vector>

namespace quillmere {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // width * height * 3 bytes, RGB8, rows top to bottom, no padding

  bool operator==(const Picture&) const = default;
};

}  // namespace quillmere
