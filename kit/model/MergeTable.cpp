// SPDX-License-Identifier: GPL-3.0-or-later
// The BPE merge rules as a flat open-addressing table keyed by the pair of ids.
#include "model/MergeTable.h"

#include <algorithm>
#include <bit>

namespace quillmere {

MergeTable::MergeTable(std::vector<Rule> rules) : rules_(std::move(rules)) {
  // At most about three slots in five in use, so probes stay short.
  const std::size_t slotCount = std::bit_ceil(std::max<std::size_t>(16, rules_.size() * 5 / 3));
  slotBits_ = std::countr_zero(slotCount);
  slots_.assign(slotCount, empty);
  // The slots are read at random: ask for a slot some rules ahead so that the reads overlap
  // instead of waiting for memory one at a time.
  constexpr std::size_t ahead = 16;
  const std::size_t count = rules_.size();
  for (std::size_t rank = 0; rank < count; ++rank) {
    if (rank + ahead < count) {
      const Rule& later = rules_[rank + ahead];
      __builtin_prefetch(&slots_[slotOf(later.left, later.right)], 1);
    }
    insert(static_cast<std::uint32_t>(rank), slotOf(rules_[rank].left, rules_[rank].right));
  }
}

void MergeTable::insert(std::uint32_t rank, std::size_t slot) {
  const Rule& rule = rules_[rank];
  const std::size_t mask = slots_.size() - 1;
  for (;; slot = (slot + 1) & mask) {
    if (slots_[slot] == empty) {
      slots_[slot] = rank;
      return;
    }
    const Rule& other = rules_[slots_[slot]];
    if (other.left == rule.left && other.right == rule.right) return;  // the earlier counts
  }
}

std::optional<MergeTable::Merge> MergeTable::find(std::int32_t left, std::int32_t right) const {
  if (slots_.empty()) return std::nullopt;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = slotOf(left, right);; slot = (slot + 1) & mask) {
    const std::uint32_t rank = slots_[slot];
    if (rank == empty) return std::nullopt;
    const Rule& rule = rules_[rank];
    if (rule.left == left && rule.right == right) {
      return Merge{static_cast<std::int32_t>(rank), rule.merged};
    }
  }
}

std::size_t MergeTable::slotOf(std::int32_t left, std::int32_t right) const {
  const std::uint64_t key = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(left)) << 32) |
                            static_cast<std::uint32_t>(right);
  // Fibonacci hashing: the high bits of the product are well mixed.
  return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - slotBits_));
}

}  // namespace quillmere
