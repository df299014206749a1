#include "index/TopRows.h"

#include <algorithm>

namespace quillmere {

TopRows::TopRows(std::size_t limit) : limit_(limit) {
  heap_.reserve(limit);
}

void TopRows::offer(Entry entry) {
  if (!wouldKeep(entry.score)) return;
  if (heap_.size() < limit_) {
    heap_.push_back(entry);
    std::push_heap(heap_.begin(), heap_.end(), better);
    return;
  }
  if (!better(entry, heap_.front())) return;
  std::pop_heap(heap_.begin(), heap_.end(), better);
  heap_.back() = entry;
  std::push_heap(heap_.begin(), heap_.end(), better);
}

std::vector<TopRows::Entry> TopRows::sorted() const {
  std::vector<Entry> entries = heap_;
  std::sort(entries.begin(), entries.end(), better);
  return entries;
}

}  // namespace quillmere
