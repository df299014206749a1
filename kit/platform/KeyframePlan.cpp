// SPDX-License-Identifier: GPL-3.0-or-later
// The decoding passes planned: where each starts for the requested times, from the keyframes.
#include "platform/KeyframePlan.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace quillmere {

namespace {

KeyframePlan::Target planOne(double time, double tolerance,
                             const std::vector<std::int64_t>& keyframes, const StreamClock& clock) {
  KeyframePlan::Target target;
  target.time = time;
  const auto after = std::upper_bound(keyframes.begin(), keyframes.end(), clock.stamp(time));
  if (after != keyframes.begin()) {
    target.hasStart = true;
    target.start = *std::prev(after);
  }
  if (tolerance <= 0) return target;
  // The nearest keyframe, when within the tolerance, saves decoding forward.
  double bestDistance = std::numeric_limits<double>::infinity();
  for (auto it : {after == keyframes.begin() ? after : std::prev(after), after}) {
    if (it == keyframes.end()) continue;
    const double distance = std::abs(clock.seconds(*it) - time);
    if (distance <= tolerance + StreamClock::slack && distance < bestDistance) {
      bestDistance = distance;
      target.keyMode = true;
      target.start = *it;
      target.hasStart = true;
    }
  }
  return target;
}

}  // namespace

std::vector<KeyframePlan::Target> KeyframePlan::make(const std::vector<double>& times,
                                                     double tolerance,
                                                     const std::vector<std::int64_t>& keyframes,
                                                     const StreamClock& clock) {
  std::vector<Target> targets;
  targets.reserve(times.size());
  for (double time : times) targets.push_back(planOne(time, tolerance, keyframes, clock));
  // A keyframe target followed by one decoding forward from the same keyframe decodes that
  // group anyway: it takes the nearest decoded frame too, and spares a seek back.
  for (std::size_t i = targets.size(); i-- > 1;) {
    if (targets[i - 1].keyMode && !targets[i].keyMode && targets[i].hasStart &&
        targets[i].start == targets[i - 1].start)
      targets[i - 1].keyMode = false;
  }
  return targets;
}

}  // namespace quillmere
