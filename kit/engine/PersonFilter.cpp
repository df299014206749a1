// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/PersonFilter.h"

#include <algorithm>
#include <cmath>

#include "index/Library.h"

namespace quillmere {

PersonFilter::PersonFilter(People& people, std::span<const std::int64_t> personIDs) {
  for (const auto& moment : people.momentsWith(personIDs)) {
    pictures_[moment.file.id].push_back(moment.time);
  }
}

SearchFilter PersonFilter::narrowed(SearchFilter filter) const {
  std::set<std::int64_t> files;
  for (const auto& [file, times] : pictures_) {
    if (!filter.files || filter.files->contains(file)) files.insert(file);
  }
  filter.files = std::move(files);
  return filter;
}

std::size_t PersonFilter::searchLimit(const Library& library, std::size_t limit) const {
  // Every frame of those files at most: then nothing the people are in is cut off early.
  std::size_t frames = 0;
  for (const auto& entry : pictures_) frames += library.vectors().rows(entry.first).size();
  return std::max(limit, frames);
}

std::vector<SearchResult> PersonFilter::kept(std::vector<SearchResult> results, double window,
                                             std::size_t limit) const {
  std::erase_if(results, [&](const SearchResult& result) {
    const auto at = pictures_.find(result.file.id);
    if (at == pictures_.end()) return true;
    if (result.file.kind == MediaKind::photo) return false;
    return std::none_of(at->second.begin(), at->second.end(),
                        [&](double time) { return std::abs(time - result.time) <= window; });
  });
  if (results.size() > limit) results.resize(limit);
  return results;
}

}  // namespace quillmere
