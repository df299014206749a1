// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "export/MarkerExport.h"

namespace quillmere {
namespace {

using Rate = MarkerExport::Rate;

TEST(MarkerRate, StandardRatesWithinATwentiethOfAFrame) {
  EXPECT_EQ(Rate::from(23.976), (Rate{1001, 24000}));
  EXPECT_EQ(Rate::from(23.98), (Rate{1001, 24000}));
  EXPECT_EQ(Rate::from(24000.0 / 1001.0), (Rate{1001, 24000}));
  EXPECT_EQ(Rate::from(24.0), (Rate{1, 24}));
  EXPECT_EQ(Rate::from(25.03), (Rate{1, 25}));
  EXPECT_EQ(Rate::from(29.97), (Rate{1001, 30000}));
  EXPECT_EQ(Rate::from(29.98), (Rate{1001, 30000}));
  EXPECT_EQ(Rate::from(30000.0 / 1001.0), (Rate{1001, 30000}));
  EXPECT_EQ(Rate::from(30.0), (Rate{1, 30}));
  EXPECT_EQ(Rate::from(49.96), (Rate{1, 50}));
  EXPECT_EQ(Rate::from(59.94), (Rate{1001, 60000}));
  EXPECT_EQ(Rate::from(60000.0 / 1001.0), (Rate{1001, 60000}));
  EXPECT_EQ(Rate::from(60.0), (Rate{1, 60}));
}

TEST(MarkerRate, OtherRatesRoundToWholeFrames) {
  // 29.5 is 0.47 from 29.97 and 0.5 from 30: no standard is close enough.
  EXPECT_EQ(Rate::from(29.5), (Rate{1, 30}));
  EXPECT_EQ(Rate::from(12.0), (Rate{1, 12}));
  EXPECT_EQ(Rate::from(14.5), (Rate{1, 15}));  // halves away from zero
  EXPECT_EQ(Rate::from(120.0), (Rate{1, 120}));
  EXPECT_EQ(Rate::from(0.4), (Rate{1, 1}));
  EXPECT_EQ(Rate::from(1.49), (Rate{1, 1}));
  EXPECT_EQ(Rate::from(2.0), (Rate{1, 2}));
  EXPECT_EQ(Rate::from(-25.0), (Rate{1, 1}));
}

TEST(MarkerRate, NonsenseRatesStayUsable) {
  EXPECT_EQ(Rate::from(std::numeric_limits<double>::quiet_NaN()), (Rate{1, 1}));
  const Rate huge = Rate::from(std::numeric_limits<double>::infinity());
  EXPECT_EQ(huge.num, 1);
  EXPECT_GT(huge.den, 1'000'000);
  EXPECT_FALSE(huge.time(1e9).empty());
}

TEST(MarkerRate, FpsIsDenominatorOverNumerator) {
  EXPECT_DOUBLE_EQ((Rate{1001, 30000}).fps(), 30000.0 / 1001.0);
  EXPECT_DOUBLE_EQ((Rate{1, 25}).fps(), 25.0);
  EXPECT_NE((Rate{1, 25}), (Rate{1, 24}));
  EXPECT_NE((Rate{1001, 24000}), (Rate{1, 24000}));
}

TEST(MarkerRate, TimesSnapToWholeFrames) {
  const Rate ntsc{1001, 30000};
  EXPECT_EQ(ntsc.time(0), "0s");
  EXPECT_EQ(ntsc.time(0.01), "0s");  // 0.3 frames
  EXPECT_EQ(ntsc.time(1), "30030/30000s");
  EXPECT_EQ(ntsc.time(10), "300300/30000s");
  const Rate pal{1, 25};
  EXPECT_EQ(pal.time(1), "25/25s");
  EXPECT_EQ(pal.time(3.5), "88/25s");  // 87.5 frames round away from zero
  EXPECT_EQ(pal.time(0.02), "1/25s");  // exactly half a frame
  EXPECT_EQ(pal.time(0.019), "0s");
  EXPECT_EQ(pal.time(-1), "-25/25s");
  EXPECT_EQ(pal.time(3600), "90000/25s");
}

TEST(MarkerRate, AbsurdTimesGiveWellFormedText) {
  const Rate ntsc{1001, 30000};
  EXPECT_EQ(ntsc.time(std::numeric_limits<double>::quiet_NaN()), "0s");
  const std::string far = ntsc.time(std::numeric_limits<double>::infinity());
  EXPECT_EQ(far.substr(far.size() - 7), "/30000s");
  EXPECT_NE(far.front(), '-');
}

}  // namespace
}  // namespace quillmere
