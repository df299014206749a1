// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/KeyframePlan.h"
#include "platform/StreamClock.h"

namespace quillmere {
namespace {

using Target = KeyframePlan::Target;

struct PlanCase {
  std::string name;
  std::vector<double> times;
  double tolerance = 0;
  std::vector<std::int64_t> keyframes;
  std::vector<Target> expected;
  StreamClock clock{0.001, 0};  // milliseconds from the start
};

TEST(KeyframePlan, StartsEachTimeAtTheRightKeyframe) {
  const std::vector<std::int64_t> everyTwo = {0, 2000, 4000, 6000};
  const std::vector<PlanCase> cases = {
      {"exact times decode from the keyframe at or before them",
       {0.5, 2.0, 3.999},
       0,
       everyTwo,
       {{0.5, false, true, 0}, {2.0, false, true, 2000}, {3.999, false, true, 2000}}},
      {"a keyframe within the tolerance is the answer",
       {1.8},
       0.5,
       everyTwo,
       {{1.8, true, true, 2000}}},
      {"keyframes out of reach: decode forward from the one before",
       {1.0},
       0.5,
       everyTwo,
       {{1.0, false, true, 0}}},
      {"of two keyframes equally near, the earlier", {1.0}, 1.0, everyTwo, {{1.0, true, true, 0}}},
      {"container rounding counts as within",
       {2.5005},
       0.5,
       everyTwo,
       {{2.5005, true, true, 2000}}},
      {"just beyond the rounding does not", {2.502}, 0.5, everyTwo, {{2.502, false, true, 2000}}},
      {"a time before the first keyframe has no start",
       {0.5},
       0,
       {1000, 3000},
       {{0.5, false, false, 0}}},
      {"but may still take a keyframe after it",
       {0.8},
       0.5,
       {1000, 3000},
       {{0.8, true, true, 1000}}},
      {"no index at all", {1.0, 2.0}, 0.5, {}, {{1.0, false, false, 0}, {2.0, false, false, 0}}},
      {"a keyframe target before one decoding its group decodes the group too",
       {0.2, 0.6},
       0.25,
       everyTwo,
       {{0.2, false, true, 0}, {0.6, false, true, 0}}},
      {"a keyframe target before one of another group stays a keyframe target",
       {0.2, 2.6},
       0.25,
       everyTwo,
       {{0.2, true, true, 0}, {2.6, false, true, 2000}}},
      {"a stream that starts late (MPEG-TS at 1.4 s, 90 kHz)",
       {2.1},
       0.5,
       {126000, 306000},
       {{2.1, true, true, 306000}},
       StreamClock{1.0 / 90000, 126000}},
  };
  for (const PlanCase& c : cases) {
    EXPECT_EQ(KeyframePlan::make(c.times, c.tolerance, c.keyframes, c.clock), c.expected) << c.name;
  }
}

TEST(StreamClock, ConvertsBothWaysAndSaturates) {
  struct Case {
    double tickSeconds;
    std::int64_t start;
    double seconds;
    std::int64_t stamp;
  };
  for (const Case& c : std::vector<Case>{{1.0 / 90000, 126000, 2.0, 306000},
                                         {0.001, 0, 1.2344, 1234},
                                         {0.001, 0, 1.2346, 1235},
                                         {1.0 / 10240, -1024, 1.0, 9216},
                                         {1e-9, 0, 1e30, 4000000000000000000},
                                         {1e-9, 0, -1e30, -4000000000000000000}}) {
    const StreamClock clock(c.tickSeconds, c.start);
    EXPECT_EQ(clock.stamp(c.seconds), c.stamp) << c.seconds;
    if (std::abs(c.seconds) < 1e6) {
      EXPECT_NEAR(clock.seconds(c.stamp), c.seconds, c.tickSeconds);
    }
  }
  const StreamClock clock(0.001, 77);
  EXPECT_EQ(clock.stamp(std::numeric_limits<double>::quiet_NaN()), 77);
  EXPECT_EQ(clock.seconds(77), 0.0);
}

}  // namespace
}  // namespace quillmere
