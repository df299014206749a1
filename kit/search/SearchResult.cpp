// SPDX-License-Identifier: GPL-3.0-or-later
// Found moments hashed over the same fields their equality compares.
#include "search/SearchResult.h"

#include <optional>
#include <string>

namespace quillmere {

namespace {

void combine(std::size_t& seed, std::size_t value) {
  seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

template <typename T>
void combineValue(std::size_t& seed, const T& value) {
  combine(seed, std::hash<T>{}(value));
}

}  // namespace

std::size_t hashValue(const SearchResult& result) {
  std::size_t seed = 0;
  combineValue(seed, result.frameID);
  const MediaFile& file = result.file;
  combineValue(seed, file.id);
  combineValue(seed, file.rootID);
  combineValue(seed, file.relPath);
  combineValue(seed, rawValue(file.kind));
  combineValue(seed, file.size);
  combineValue(seed, file.mtime);
  combineValue(seed, file.duration);
  combineValue(seed, file.width);
  combineValue(seed, file.height);
  combineValue(seed, rawValue(file.state));
  combineValue(seed, file.error);
  if (file.taken) combineValue(seed, file.taken->seconds);
  combineValue(seed, result.time);
  combineValue(seed, result.score);
  combineValue(seed, result.probability);
  return seed;
}

}  // namespace quillmere
