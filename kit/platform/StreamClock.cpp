// SPDX-License-Identifier: GPL-3.0-or-later
// A stream's time stamps converted to seconds from its start and back, saturating.
#include "platform/StreamClock.h"

#include <algorithm>
#include <cmath>

namespace quillmere {

double StreamClock::seconds(std::int64_t ticks) const {
  return (static_cast<double>(ticks) - static_cast<double>(startTicks_)) * tickSeconds_;
}

std::int64_t StreamClock::stamp(double seconds) const {
  constexpr double limit = 4.0e18;
  const double ticks = std::round(seconds / tickSeconds_) + static_cast<double>(startTicks_);
  if (std::isnan(ticks)) return startTicks_;
  return static_cast<std::int64_t>(std::clamp(ticks, -limit, limit));
}

}  // namespace quillmere
