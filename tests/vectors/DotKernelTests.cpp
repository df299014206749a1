// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/Float16.h"
#include "vectors/DotKernel.h"

namespace quillmere {
namespace {

// The documented order, written out independently of the kernel's own reference.
float orderedDot(const std::vector<float>& query, const Half* row) {
  const std::size_t dim = query.size();
  const std::size_t body = dim - dim % 16;
  float p[4][4] = {};
  for (std::size_t step = 0; step < body / 16; ++step) {
    for (std::size_t c = step * 16; c < step * 16 + 16; ++c) {
      const std::size_t k = (c % 16) / 4;
      const std::size_t j = c % 4;
      volatile float product = query[c] * floatFromHalf(row[c]);  // rounded on its own
      p[k][j] += product;
    }
  }
  float s[4];
  for (std::size_t j = 0; j < 4; ++j) s[j] = (p[0][j] + p[1][j]) + (p[2][j] + p[3][j]);
  float total = (s[0] + s[1]) + (s[2] + s[3]);
  for (std::size_t c = body; c < dim; ++c) {
    volatile float product = query[c] * floatFromHalf(row[c]);
    total += product;
  }
  return total;
}

float naiveDot(const std::vector<float>& query, const Half* row) {
  float total = 0;
  for (std::size_t c = 0; c < query.size(); ++c) {
    volatile float product = query[c] * floatFromHalf(row[c]);
    total += product;
  }
  return total;
}

// Components spread over many binades, subnormal halves included, so that a different
// order of additions shows up in the low bits.
struct Data {
  std::vector<float> query;
  std::vector<Half> rows;
};

Data randomData(std::size_t dim, std::size_t rowCount, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::normal_distribution<float> normal(0.0f, 1.0f);
  std::uniform_int_distribution<int> binade(-12, 6);
  Data data;
  for (std::size_t c = 0; c < dim; ++c) {
    data.query.push_back(std::ldexp(normal(random), binade(random)));
  }
  for (std::size_t i = 0; i < dim * rowCount; ++i) {
    const int scale = binade(random) - (i % 29 == 0 ? 14 : 0);
    data.rows.push_back(halfFromFloat(std::ldexp(normal(random), scale)));
  }
  return data;
}

std::uint32_t bitsOf(float value) {
  return std::bit_cast<std::uint32_t>(value);
}

TEST(DotKernel, ReferenceFollowsTheDocumentedOrder) {
  std::size_t differsFromNaive = 0;
  for (const std::size_t dim : {768u, 17u, 15u, 16u, 1u, 0u, 48u}) {
    const Data data = randomData(dim, 64, static_cast<std::uint32_t>(dim) + 1);
    for (std::size_t r = 0; r < 64; ++r) {
      const Half* row = data.rows.data() + r * dim;
      const float expected = orderedDot(data.query, row);
      const float got = DotKernel::reference(data.query, std::span<const Half>(row, dim));
      ASSERT_EQ(bitsOf(got), bitsOf(expected)) << "dim " << dim << " row " << r;
      if (bitsOf(naiveDot(data.query, row)) != bitsOf(expected)) ++differsFromNaive;
    }
  }
  // The data is sensitive to the order, so the comparisons above mean something.
  EXPECT_GT(differsFromNaive, 50u);
}

TEST(DotKernel, EveryPathGivesTheReferenceBits) {
  const std::vector<DotKernel::Path> paths = DotKernel::supportedPaths();
  ASSERT_FALSE(paths.empty());
  EXPECT_EQ(paths.front(), DotKernel::Path::portable);
  EXPECT_TRUE(DotKernel::supported(DotKernel::best()));
  if (__builtin_cpu_supports("avx512f")) {
    EXPECT_EQ(DotKernel::best(), DotKernel::Path::avx512);
  }

  // Row counts around the kernels' grouping of rows, dims around the 16-component step.
  for (const std::size_t dim : {768u, 17u, 15u, 16u, 1u, 0u, 33u}) {
    for (const std::size_t count : {1u, 3u, 4u, 5u, 9u, 64u}) {
      const Data data = randomData(dim, count, static_cast<std::uint32_t>(dim * 131 + count));
      std::vector<float> expected(count);
      for (std::size_t r = 0; r < count; ++r) {
        expected[r] = DotKernel::reference(data.query,
                                           std::span<const Half>(data.rows.data() + r * dim, dim));
      }
      for (const DotKernel::Path path : paths) {
        std::vector<float> scores(count, std::nanf(""));
        DotKernel::score(path, data.query, data.rows.data(), count, scores.data());
        for (std::size_t r = 0; r < count; ++r) {
          ASSERT_EQ(bitsOf(scores[r]), bitsOf(expected[r]))
              << DotKernel::name(path) << " dim " << dim << " rows " << count << " row " << r;
        }
      }
    }
  }
}

TEST(DotKernel, ExactValuesAndSpecialComponents) {
  // Exactly representable sums: every path must agree with plain arithmetic.
  std::vector<float> query(20);
  std::vector<Half> row(20);
  for (std::size_t c = 0; c < 20; ++c) {
    query[c] = static_cast<float>(c + 1);
    row[c] = halfFromFloat(0.5f);
  }
  for (const DotKernel::Path path : DotKernel::supportedPaths()) {
    float score = 0;
    DotKernel::score(path, query, row.data(), 1, &score);
    EXPECT_EQ(score, 105.0f) << DotKernel::name(path);  // (1 + ... + 20) / 2

    // A NaN component makes the whole score NaN; an infinite one an infinite score.
    std::vector<Half> special = row;
    special[3] = 0x7e00;
    DotKernel::score(path, query, special.data(), 1, &score);
    EXPECT_TRUE(std::isnan(score)) << DotKernel::name(path);
    special[3] = 0xfc00;  // -inf
    special[18] = 0xfc00;
    DotKernel::score(path, query, special.data(), 1, &score);
    EXPECT_EQ(score, -INFINITY) << DotKernel::name(path);
  }
}

}  // namespace
}  // namespace quillmere
