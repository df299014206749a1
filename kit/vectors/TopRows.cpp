// SPDX-License-Identifier: GPL-3.0-or-later
// The bounded selection of a scan's best rows by score.
#include "vectors/TopRows.h"

#include <algorithm>
#include <bit>

namespace quillmere {
namespace {

// The score in the high half, ordered so that a higher score gives a lower key, and the row
// in the low half: ascending keys are best first, the earlier row first among equal scores.
std::uint64_t keyOf(TopRows::Entry entry) {
  // Minus zero equals zero as a score and must share its key.
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(entry.score == 0 ? 0.0f : entry.score);
  const std::uint32_t ascending = (bits & 0x80000000u) ? ~bits : bits | 0x80000000u;
  return (std::uint64_t{~ascending} << 32) | static_cast<std::uint32_t>(entry.row);
}

TopRows::Entry entryOf(std::uint64_t key) {
  const std::uint32_t ascending = ~static_cast<std::uint32_t>(key >> 32);
  const std::uint32_t bits = (ascending & 0x80000000u) ? ascending & 0x7fffffffu : ~ascending;
  return {std::bit_cast<float>(bits), static_cast<std::size_t>(key & 0xffffffffu)};
}

}  // namespace

TopRows::TopRows(std::size_t limit) : limit_(limit) {
  keys_.reserve(2 * limit);
}

void TopRows::offer(Entry entry) {
  if (limit_ == 0 || !wouldKeep(entry.score)) return;
  keys_.push_back(keyOf(entry));
  if (keys_.size() >= 2 * limit_) prune();
}

void TopRows::merge(const TopRows& other) {
  if (limit_ == 0) return;
  keys_.insert(keys_.end(), other.keys_.begin(), other.keys_.end());
  if (keys_.size() >= 2 * limit_) prune();
}

void TopRows::prune() {
  const auto cut = keys_.begin() + static_cast<std::ptrdiff_t>(limit_);
  std::nth_element(keys_.begin(), cut - 1, keys_.end());
  keys_.erase(cut, keys_.end());
  floor_ = entryOf(keys_.back()).score;
}

std::vector<TopRows::Entry> TopRows::sorted() const {
  std::vector<std::uint64_t> keys = keys_;
  if (keys.size() > limit_) {
    const auto cut = keys.begin() + static_cast<std::ptrdiff_t>(limit_);
    std::nth_element(keys.begin(), cut - 1, keys.end());
    keys.erase(cut, keys.end());
  }
  std::sort(keys.begin(), keys.end());
  std::vector<Entry> entries;
  entries.reserve(keys.size());
  for (const std::uint64_t key : keys) entries.push_back(entryOf(key));
  return entries;
}

}  // namespace quillmere
