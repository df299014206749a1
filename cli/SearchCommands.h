// SPDX-License-Identifier: GPL-3.0-or-later
// The options of search, similar and export (cli/SearchCommands.cpp runs them).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "search/PictureRegion.h"
#include "search/SearchFilter.h"

namespace quillmere {

struct SearchOptions {
  std::vector<std::string> operands;
  bool photos = false;
  bool videos = false;
  bool exact = false;
  bool json = false;
  std::optional<std::string> folder;
  std::optional<std::size_t> limit;
  std::optional<std::string> output;
  std::optional<double> after;  // seconds since 1970: the start of the day or month given
  std::optional<double> before;
  SearchFilter::Order order = SearchFilter::Order::best;
  std::optional<float> minProbability;
  std::vector<std::string> plus;  // similar: texts added to the picture, and taken away
  std::vector<std::string> minus;
  std::optional<PictureRegion> region;  // similar: the part of the picture searched by
  std::vector<std::string> persons;     // ids or names of people who must all appear
  std::optional<std::string> face;      // similar: the face whose person is looked for

  void take(const std::string& arg, const CommandLine::Value& value);
  void check() const;
};

}  // namespace quillmere
