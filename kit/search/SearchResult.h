// SPDX-License-Identifier: GPL-3.0-or-later
// One found moment: a matched frame of a file, as the library knew the file at search time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include <vector>

#include "core/Records.h"
#include "core/TextLine.h"

namespace quillmere {

struct SearchResult {
  std::int64_t frameID = 0;  // the matched frame; also the result's identity
  MediaFile file;
  double time = 0;        // position of the frame, seconds
  float score = 0;        // dot product of the query with the frame's vector, no penalty
  float probability = 0;  // calibrated chance that the frame matches the query, 0 to 1

  // What of a text query was found written in the frame (TextQuery); empty when nothing was.
  struct FoundText {
    std::vector<TextLine> lines;  // the lines read in the frame that hold the query's words
    float share = 0;  // how much of the query's words they hold, 0 to 1 (TextFinder::Found)
    bool operator==(const FoundText&) const = default;
  };
  FoundText foundText;
  bool foundByText() const { return foundText.share > 0; }

  std::int64_t id() const { return frameID; }

  bool operator==(const SearchResult&) const = default;
};

// Combines the fields equality compares but the found text, which follows from them.
std::size_t hashValue(const SearchResult& result);

}  // namespace quillmere

template <>
struct std::hash<quillmere::SearchResult> {
  std::size_t operator()(const quillmere::SearchResult& result) const {
    return quillmere::hashValue(result);
  }
};
