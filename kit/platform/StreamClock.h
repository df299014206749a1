// SPDX-License-Identifier: GPL-3.0-or-later
// A stream's time stamps and seconds from its start, converted both ways. Hostile time
// stamps and bases must not overflow 64 bits: the arithmetic is in doubles and saturated.
#pragma once

#include <cstdint>

namespace quillmere {

class StreamClock {
 public:
  // Seconds of container rounding within which two times count as one.
  static constexpr double slack = 1e-3;

  // tickSeconds: the stream's time base as seconds a tick; startTicks: its first time stamp.
  StreamClock(double tickSeconds, std::int64_t startTicks)
      : tickSeconds_(tickSeconds), startTicks_(startTicks) {}

  double seconds(std::int64_t ticks) const;
  // The nearest time stamp, clamped to +-4e18; the start for a time that is not a number.
  std::int64_t stamp(double seconds) const;

 private:
  double tickSeconds_;
  std::int64_t startTicks_;
};

}  // namespace quillmere
