// SPDX-License-Identifier: GPL-3.0-or-later
// The merge rules of a BPE vocabulary, looked up by the pair of ids they join: a flat
// open-addressing table over the rules in rank order. Built in one pass with no allocation
// per rule and its memory reads overlapped, so half a million merges load in milliseconds.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace quillmere {

class MergeTable {
 public:
  struct Rule {
    std::int32_t left;
    std::int32_t right;
    std::int32_t merged;
  };
  struct Merge {
    std::int32_t rank;
    std::int32_t merged;
  };

  MergeTable() = default;
  // The rules in rank order; of two rules for one pair the earlier one counts.
  explicit MergeTable(std::vector<Rule> rules);

  std::optional<Merge> find(std::int32_t left, std::int32_t right) const;
  std::size_t size() const { return rules_.size(); }

 private:
  static constexpr std::uint32_t empty = 0xFFFFFFFFu;

  std::size_t slotOf(std::int32_t left, std::int32_t right) const;
  void insert(std::uint32_t rank, std::size_t slot);

  std::vector<Rule> rules_;           // index = rank
  std::vector<std::uint32_t> slots_;  // rank, or empty; a power of two in size
  int slotBits_ = 0;
};

}  // namespace quillmere
