// SPDX-License-Identifier: GPL-3.0-or-later
// What a query looks for in the text read in pictures: its words of three letters or more,
// each found whole, as part of a longer run ("RE16" in "RE16 XYZ") or with a slip or two, and
// its phrases in double quotes ("exit 25"), found only as written. Words and phrases are
// compared folded (TextFolding), so case, accents and spaces do not matter.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

class TextQuery {
 public:
  struct Piece {
    std::string folded;  // TextFolding::folded of the word or phrase
    int slips = 0;       // edits allowed: 0 for a phrase or a word of 3 letters, 1 up to 8, else 2
    std::size_t weight = 0;  // its share of the query: its letters less two
    bool operator==(const Piece&) const = default;
  };

  // The pieces of the terms the query adds (QueryTerms: taken-away terms are not looked for),
  // each once. Words are split at white space with punctuation trimmed from their ends.
  // Throws QueryTerms::Failure as QueryTerms::parse does.
  static std::vector<Piece> pieces(std::string_view query);

  // The fewest edits (a letter changed, added or left out) that make piece appear somewhere
  // in line, both folded; absent when more than most.
  static std::optional<int> slipsIn(std::string_view piece, std::string_view line, int most);

  static constexpr std::size_t leastLetters = 3;

  TextQuery() = delete;
};

}  // namespace quillmere
