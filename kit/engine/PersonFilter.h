// SPDX-License-Identifier: GPL-3.0-or-later
// A search narrowed to the moments where every one of some people appears, the same rule
// for both front ends: the search runs over the files holding such pictures, and keeps the
// moments at (or, in a video, within a moment's window of) one of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "people/People.h"
#include "search/SearchFilter.h"
#include "search/SearchResult.h"

namespace quillmere {

class PersonFilter {
 public:
  PersonFilter(People& people, std::span<const std::int64_t> personIDs);

  // The filter, narrowed to the files the people appear in together.
  SearchFilter narrowed(SearchFilter filter) const;
  // How many moments to ask the search for so that limit remain once kept() has run.
  std::size_t searchLimit(const Library& library, std::size_t limit) const;
  // The results at a picture of the people, in their order, at most limit.
  std::vector<SearchResult> kept(std::vector<SearchResult> results, double window,
                                 std::size_t limit) const;

 private:
  std::map<std::int64_t, std::vector<double>> pictures_;  // file id -> the pictures' times
};

}  // namespace quillmere
