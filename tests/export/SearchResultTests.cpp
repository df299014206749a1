// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <unordered_set>

#include "search/SearchResult.h"

namespace quillmere {
namespace {

TEST(SearchResultRecord, EqualityAndHashingUseAllFields) {
  const SearchResult a{
      .frameID = 7,
      .file = {.id = 3, .rootID = 1, .relPath = "v/a.mp4", .kind = MediaKind::video},
      .time = 12.5,
      .score = 0.3f,
      .probability = 0.6f};
  EXPECT_EQ(a.id(), 7);
  std::unordered_set<SearchResult> set{a};
  SearchResult same = a;
  EXPECT_EQ(same, a);
  EXPECT_TRUE(set.contains(same));
  SearchResult other = a;
  other.file.relPath = "v/b.mp4";
  EXPECT_NE(other, a);
  EXPECT_FALSE(set.contains(other));
  other = a;
  other.probability = 0.7f;
  EXPECT_NE(other, a);
  EXPECT_FALSE(set.contains(other));
  other = a;
  other.time = 12.0;
  EXPECT_NE(hashValue(other), hashValue(a));
  other = a;
  other.file.error = "x";
  EXPECT_NE(hashValue(other), hashValue(a));
}

}  // namespace
}  // namespace quillmere
