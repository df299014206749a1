// SPDX-License-Identifier: GPL-3.0-or-later
// How fast this computer multiplies matrices of a vision transformer's shape, and from that
// how long an image encoder of a given cost would take over a number of photos, before the
// model is downloaded.
#pragma once

#include <chrono>
#include <cstdint>

namespace quillmere {

class ComputeSpeed {
 public:
  // Multiplies ViT-B-sized matrices on every core for about `budget`; the rate reached, in
  // billions of floating-point operations a second. Takes that long: not on the GUI thread.
  static double measure(std::chrono::milliseconds budget = std::chrono::milliseconds(300));

  // Seconds for `photos` photos through an image encoder of `gflops` a photo at `rate`: the
  // encoders reach about half of the plain product's rate (attention, normalisation, the
  // smaller products), and a photo's decoding adds its own time.
  static double secondsFor(std::int64_t photos, double gflops, double rate);
};

}  // namespace quillmere
