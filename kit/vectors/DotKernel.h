// SPDX-License-Identifier: GPL-3.0-or-later
// Single-precision dot products of a float query with rows of binary16 values, the inner
// loop of the vector scan. Every path adds in one fixed order, so all of them give the same
// bits as the scalar reference:
//   - the first dim - dim % 16 components go in steps of 16 into four 4-lane partial sums
//     p0..p3 (lane j of pk takes component 16 * step + 4 * k + j), each product rounded to
//     float and then added (never fused);
//   - the partial sums are combined lane-wise as s = (p0 + p1) + (p2 + p3), then across
//     lanes as (s0 + s1) + (s2 + s3);
//   - the remaining dim % 16 products are added one at a time, in component order.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "core/Float16.h"

namespace quillmere {

class DotKernel {
 public:
  enum class Path { portable, avx2, avx512 };

  // The fastest path this CPU runs; chosen once.
  static Path best();
  static bool supported(Path path);
  static std::vector<Path> supportedPaths();
  static const char* name(Path path);

  // Scores count consecutive rows of query.size() halves each, starting at rows, into
  // scores[0..count). The path must be supported.
  static void score(Path path, std::span<const float> query, const Half* rows, std::size_t count,
                    float* scores);
  static void score(std::span<const float> query, const Half* rows, std::size_t count,
                    float* scores) {
    score(best(), query, rows, count, scores);
  }

  // One row, plain scalar code written straight from the order above.
  static float reference(std::span<const float> query, std::span<const Half> row);
};

}  // namespace quillmere
