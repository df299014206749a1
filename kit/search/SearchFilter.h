// SPDX-License-Identifier: GPL-3.0-or-later
// Which moments a search may return and in what order: the wanted kinds, optionally only
// some folders, a range of capture times and a least probability; best match first, or by
// when they were taken.
#pragma once

#include <cstdint>
#include <optional>
#include <set>

#include "core/Records.h"

namespace quillmere {

struct SearchFilter {
  enum class Order { best, newest, oldest };

  std::set<MediaKind> kinds{MediaKind::photo, MediaKind::video};
  std::optional<std::set<std::int64_t>> roots;  // absent: every folder
  std::optional<std::set<std::int64_t>> files;  // absent: every file
  // Capture times (MediaFile::captureTime, seconds since 1970) from takenFrom on and before
  // takenBefore; absent: unbounded on that side.
  std::optional<double> takenFrom;
  std::optional<double> takenBefore;
  // Moments less likely than this (0 to 1) to match are left out; 0 leaves none out.
  float minProbability = 0;
  // Date orders sort the moments the search keeps, not the whole library.
  Order order = Order::best;

  // The file's kind is wanted, it lies in one of the roots and is one of the files when they
  // are given, and it was taken within the range.
  bool admits(const MediaFile& file) const;

  bool operator==(const SearchFilter&) const = default;
};

}  // namespace quillmere
