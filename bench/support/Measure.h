// SPDX-License-Identifier: GPL-3.0-or-later
// Timing and random-number helpers shared by the benchmarks.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

namespace quillmere::bench {

// The middle value; the mean of the two middle ones for an even count.
inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// SplitMix64: a quick, well-mixed stream of 64-bit values for making test vectors.
inline std::uint64_t splitmix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

template <typename Work>
double millisecondsOf(const Work& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace quillmere::bench
