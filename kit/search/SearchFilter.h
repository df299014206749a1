// SPDX-License-Identifier: GPL-3.0-or-later
// Which files a search may return: the wanted kinds, and optionally only some folders.
#pragma once

#include <cstdint>
#include <optional>
#include <set>

#include "core/Records.h"

namespace quillmere {

struct SearchFilter {
  std::set<MediaKind> kinds{MediaKind::photo, MediaKind::video};
  std::optional<std::set<std::int64_t>> roots;  // absent: every folder

  // The file's kind is wanted and, when roots are given, it lies in one of them.
  bool admits(const MediaFile& file) const;

  bool operator==(const SearchFilter&) const = default;
};

}  // namespace quillmere
