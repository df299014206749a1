#include "index/TopRows.h"

#include <algorithm>

namespace quillmere {

TopRows::TopRows(std::size_t limit) : limit_(limit) {
  entries_.reserve(2 * limit);
}

void TopRows::offer(Entry entry) {
  if (limit_ == 0 || !wouldKeep(entry.score)) return;
  entries_.push_back(entry);
  if (entries_.size() >= 2 * limit_) prune();
}

void TopRows::merge(const TopRows& other) {
  if (limit_ == 0) return;
  entries_.insert(entries_.end(), other.entries_.begin(), other.entries_.end());
  if (entries_.size() >= 2 * limit_) prune();
}

void TopRows::prune() {
  const auto cut = entries_.begin() + static_cast<std::ptrdiff_t>(limit_);
  std::nth_element(entries_.begin(), cut - 1, entries_.end(), better);
  entries_.erase(cut, entries_.end());
  floor_ = entries_.back().score;
}

std::vector<TopRows::Entry> TopRows::sorted() const {
  std::vector<Entry> entries = entries_;
  if (entries.size() > limit_) {
    const auto cut = entries.begin() + static_cast<std::ptrdiff_t>(limit_);
    std::nth_element(entries.begin(), cut - 1, entries.end(), better);
    entries.erase(cut, entries.end());
  }
  std::sort(entries.begin(), entries.end(), better);
  return entries;
}

}  // namespace quillmere
