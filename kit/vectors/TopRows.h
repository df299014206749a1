// SPDX-License-Identifier: GPL-3.0-or-later
// The best rows of a scan by score, at most a fixed number of them. Higher scores are
// better; among equal scores the earlier row is, so that the answer does not depend on the
// order rows were offered in. NaN and minus infinity never count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace quillmere {

class TopRows {
 public:
  struct Entry {
    float score;
    std::size_t row;
  };

  // Rows are numbered below this: a row and its score share one 64-bit sort key.
  static constexpr std::size_t rowLimit = std::size_t{1} << 32;

  explicit TopRows(std::size_t limit);

  // A cheap test before offer: false when a row of this score cannot get in.
  // The floor starts at the lowest finite value, so NaN and minus infinity fail the one test.
  bool wouldKeep(float score) const { return score >= floor_; }
  void offer(Entry entry);
  // Offers every row the other one kept.
  void merge(const TopRows& other);
  // The rows kept, best first.
  std::vector<Entry> sorted() const;

 private:
  // Keeps the best limit_ entries and raises the floor to the worst of them.
  void prune();

  std::size_t limit_;
  // Offers are collected unordered and cut back to the best limit_ when twice that many
  // have come: far cheaper per row than a heap, and rows below the floor never enter. Each
  // is kept as one integer that sorts the better entry first, which sorts several times
  // faster than comparing score and row in turn.
  std::vector<std::uint64_t> keys_;
  float floor_ = std::numeric_limits<float>::lowest();
};

}  // namespace quillmere
