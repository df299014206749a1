// SPDX-License-Identifier: GPL-3.0-or-later
// The pending files of a library in indexing order (photos newest first, then videos
// smallest first, ties by id), kept per folder and changed one file at a time, so that a
// run finds its next files without copying or sorting the whole list. Not thread-safe: the
// Library keeps it under its map lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "core/Records.h"

namespace quillmere {

class PendingOrder {
 public:
  // A file's place in the order; everything the comparison needs, nothing else.
  struct Key {
    MediaKind kind = MediaKind::photo;
    double mtime = 0;
    std::int64_t size = 0;
    std::int64_t id = 0;

    static Key of(const MediaFile& file);
    // True when a goes before b.
    friend bool operator<(const Key& a, const Key& b);
    bool operator==(const Key&) const = default;
  };

  // Counts and bytes of the pending files, by kind.
  struct Sums {
    std::int64_t photos = 0;
    std::int64_t photoBytes = 0;
    std::int64_t videos = 0;
    std::int64_t videoBytes = 0;
    std::int64_t files() const { return photos + videos; }
    bool operator==(const Sums&) const = default;
  };

  // Takes the file in when it is pending; no-op otherwise.
  void add(const MediaFile& file);
  // Takes the file out when it was in (by the record it was added with).
  void remove(const MediaFile& file);
  void clear();

  // Up to count keys of the given folders, in order, after `after` (from the first when
  // absent).
  std::vector<Key> next(const std::set<std::int64_t>& roots, const std::optional<Key>& after,
                        std::size_t count) const;
  Sums sums(const std::set<std::int64_t>& roots) const;

 private:
  struct Folder {
    std::set<Key> keys;
    Sums sums;
  };
  std::map<std::int64_t, Folder> folders_;
};

}  // namespace quillmere
