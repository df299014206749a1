// SPDX-License-Identifier: GPL-3.0-or-later
// Where a decoding pass starts for each requested time: the keyframe at or before it, or,
// with a tolerance, the nearest keyframe when that alone is close enough. Pure logic on the
// stream's index; the decoder carries the plan out.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/StreamClock.h"

namespace quillmere {

class KeyframePlan {
 public:
  struct Target {
    double time = 0;
    bool keyMode = false;    // a keyframe within the tolerance is the answer itself
    bool hasStart = false;   // the index knows a keyframe to start decoding from
    std::int64_t start = 0;  // time stamp of that keyframe
    bool operator==(const Target&) const = default;
  };

  // One target per time, in the order given (ascending). keyframes: the index's keyframe
  // time stamps, ascending. Of two keyframes equally near a time, the earlier is taken.
  static std::vector<Target> make(const std::vector<double>& times, double tolerance,
                                  const std::vector<std::int64_t>& keyframes,
                                  const StreamClock& clock);
};

}  // namespace quillmere
