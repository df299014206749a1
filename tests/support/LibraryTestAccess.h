// SPDX-License-Identifier: GPL-3.0-or-later
// What the library keeps to itself, reached by the tests and benchmarks: its database, to
// read and bend the stored rows, and the whole pending list, to check its order.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "index/Library.h"

namespace quillmere {

class LibraryTestAccess {
 public:
  static SQLite& db(Library& library) { return library.db(); }
  static std::vector<MediaFile> pending(const Library& library,
                                        const std::set<std::int64_t>& roots) {
    return library.pending(roots);
  }
};

}  // namespace quillmere
