// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/Float16.h"

namespace quillmere {
namespace {

std::uint32_t bitsOf(float value) {
  return std::bit_cast<std::uint32_t>(value);
}
float floatOf(std::uint32_t bits) {
  return std::bit_cast<float>(bits);
}

// Float bit patterns chosen where rounding to binary16 is delicate: every exponent and
// sign, every value of the ten mantissa bits a normal half keeps, and low bits just
// below, at and above the halfway point; NaNs of both kinds with many payloads come out
// of exponent 255.
std::vector<std::uint32_t> delicateFloats() {
  std::vector<std::uint32_t> patterns;
  const std::uint32_t lows[] = {0x0, 0x1, 0xfff, 0x1000, 0x1001, 0x1fff};
  for (std::uint32_t sign = 0; sign < 2; ++sign) {
    for (std::uint32_t exponent = 0; exponent < 256; ++exponent) {
      for (std::uint32_t kept = 0; kept < 1024; ++kept) {
        for (const std::uint32_t low : lows) {
          patterns.push_back(sign << 31 | exponent << 23 | kept << 13 | low);
        }
      }
    }
  }
  return patterns;
}

TEST(Float16, HalfToFloatMatchesHardwareForEveryPattern) {
  if (!hasHardwareHalfConversion()) GTEST_SKIP() << "no F16C on this CPU";
  std::vector<Half> all(65536);
  for (std::uint32_t h = 0; h < 65536; ++h) all[h] = static_cast<Half>(h);
  const std::vector<float> widened = floatsFromHalves(all);
  for (std::uint32_t h = 0; h < 65536; ++h) {
    const std::uint32_t hardware = bitsOf(hardwareFloatFromHalf(static_cast<Half>(h)));
    ASSERT_EQ(bitsOf(floatFromHalf(static_cast<Half>(h))), hardware) << std::hex << h;
    ASSERT_EQ(bitsOf(widened[h]), hardware) << std::hex << h;
  }
}

TEST(Float16, FloatToHalfMatchesHardwareOnDelicateValues) {
  if (!hasHardwareHalfConversion()) GTEST_SKIP() << "no F16C on this CPU";
  std::vector<std::uint32_t> patterns = delicateFloats();
  // Every float whose half is subnormal or the smallest normals, at a stride that still
  // reaches every rounding position of that range.
  for (std::uint32_t bits = 0x33000000u - 4096; bits < 0x38800000u + 4096; bits += 37) {
    patterns.push_back(bits);
    patterns.push_back(bits | 0x80000000u);
  }
  // The overflow boundary: 65504 is the largest half, 65520 the first float rounding to
  // infinity (a tie, to the even neighbour).
  for (std::uint32_t bits = 0x477fe000u - 64; bits < 0x477ff000u + 64; ++bits) {
    patterns.push_back(bits);
    patterns.push_back(bits | 0x80000000u);
  }
  std::mt19937 random(7);
  for (int i = 0; i < 1'000'000; ++i) patterns.push_back(static_cast<std::uint32_t>(random()));

  std::vector<float> values(patterns.size());
  for (std::size_t i = 0; i < patterns.size(); ++i) values[i] = floatOf(patterns[i]);
  const std::vector<Half> narrowed = halvesFromFloats(values);
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    const Half hardware = hardwareHalfFromFloat(values[i]);
    ASSERT_EQ(halfFromFloat(values[i]), hardware) << std::hex << patterns[i];
    ASSERT_EQ(narrowed[i], hardware) << std::hex << patterns[i];
  }
}

TEST(Float16, KnownConversions) {
  EXPECT_EQ(halfFromFloat(1.0f), 0x3c00);
  EXPECT_EQ(halfFromFloat(-2.0f), 0xc000);
  EXPECT_EQ(halfFromFloat(-0.0f), 0x8000);
  EXPECT_EQ(halfFromFloat(0.1f), 0x2e66);
  EXPECT_EQ(halfFromFloat(65504.0f), 0x7bff);
  EXPECT_EQ(halfFromFloat(65519.99f), 0x7bff);
  EXPECT_EQ(halfFromFloat(65520.0f), 0x7c00);
  EXPECT_EQ(halfFromFloat(-65520.0f), 0xfc00);
  EXPECT_EQ(halfFromFloat(INFINITY), 0x7c00);
  EXPECT_EQ(halfFromFloat(std::ldexp(1.0f, -24)), 0x0001);  // smallest subnormal
  EXPECT_EQ(halfFromFloat(std::ldexp(1.0f, -25)), 0x0000);  // tie, to even zero
  EXPECT_EQ(halfFromFloat(std::ldexp(3.0f, -25)), 0x0002);  // tie, to even 2
  EXPECT_EQ(halfFromFloat(std::ldexp(1.0f, -25) * 1.0001f), 0x0001);
  EXPECT_EQ(halfFromFloat(1.0f + std::ldexp(1.0f, -11)), 0x3c00);  // tie, to even
  EXPECT_EQ(halfFromFloat(1.0f + std::ldexp(3.0f, -11)), 0x3c02);  // tie, to even
  EXPECT_EQ(halfFromFloat(floatOf(0x7fa00001u)), 0x7f00);          // signalling NaN quieted
  EXPECT_EQ(halfFromFloat(floatOf(0xffc00000u)), 0xfe00);
  EXPECT_EQ(bitsOf(floatFromHalf(0x0001)), bitsOf(std::ldexp(1.0f, -24)));
  EXPECT_EQ(floatFromHalf(0x03ff), std::ldexp(1023.0f, -24));
  EXPECT_EQ(floatFromHalf(0x7bff), 65504.0f);
  EXPECT_EQ(bitsOf(floatFromHalf(0xfd01)), 0xffe02000u);  // payload kept, made quiet
}

TEST(Float16, EveryHalfSurvivesARoundTrip) {
  for (std::uint32_t h = 0; h < 65536; ++h) {
    const Half half = static_cast<Half>(h);
    const bool nan = (h & 0x7c00u) == 0x7c00u && (h & 0x3ffu) != 0;
    // NaNs come back quiet with the rest of their payload; everything else unchanged.
    const Half expected = nan ? static_cast<Half>(h | 0x200u) : half;
    ASSERT_EQ(halfFromFloat(floatFromHalf(half)), expected) << std::hex << h;
  }
}

TEST(Float16, ArrayConversionsHandleEveryLength) {
  std::mt19937 random(3);
  std::normal_distribution<float> normal(0.0f, 100.0f);
  for (std::size_t length = 0; length < 40; ++length) {
    std::vector<float> values(length);
    for (float& value : values) value = normal(random);
    const std::vector<Half> halves = halvesFromFloats(values);
    ASSERT_EQ(halves.size(), length);
    const std::vector<float> back = floatsFromHalves(halves);
    ASSERT_EQ(back.size(), length);
    for (std::size_t i = 0; i < length; ++i) {
      EXPECT_EQ(halves[i], halfFromFloat(values[i]));
      EXPECT_EQ(bitsOf(back[i]), bitsOf(floatFromHalf(halves[i])));
    }
  }
}

}  // namespace
}  // namespace quillmere
