// SPDX-License-Identifier: GPL-3.0-or-later
// Finds the stored pictures whose text holds a query's words and phrases: the library's
// trigram index names the lines that could (those sharing a run of three letters with a
// word), and an edit-distance check on each decides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "search/TextQuery.h"

namespace quillmere {

class Library;

class TextFinder {
 public:
  // One picture of a file (at time: 0 for a photo) whose text holds some of the pieces.
  struct Found {
    std::int64_t fileID = 0;
    double time = 0;
    std::vector<int> lines;  // places of its lines that hold a piece, ascending
    // The pieces' weights it holds over all their weights, a piece found with a slip counting
    // half: 0 to 1.
    float share = 0;
    bool operator==(const Found&) const = default;
  };

  // Pictures holding at least one piece, the larger share first (then by file and time).
  static std::vector<Found> find(Library& library, std::span<const TextQuery::Piece> pieces);

  // Candidate lines asked of the index per piece and per way of asking.
  static constexpr std::size_t candidateLines = 2000;

  TextFinder() = delete;
};

}  // namespace quillmere
