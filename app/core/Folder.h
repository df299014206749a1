// SPDX-License-Identifier: GPL-3.0-or-later
// One folder of the library as the application shows it: the stored root with whether it
// can be read now and how many of its files are indexed. Identity is root.id.
#pragma once

#include <cstdint>

#include "core/Records.h"

namespace quillmere {

struct Folder {
  Root root;
  bool online = false;      // reachable now
  bool isExternal = false;  // on a removable or non-boot drive
  std::int64_t files = 0;
  std::int64_t indexed = 0;

  bool operator==(const Folder&) const = default;
};

}  // namespace quillmere
