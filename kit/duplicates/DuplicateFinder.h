// SPDX-License-Identifier: GPL-3.0-or-later
// Finds photos of the library that show the same picture by comparing the embedding vectors
// indexing already stored: every indexed photo with every other, as dense single-precision
// matrix products in tiles, joining photos whose similarity reaches a threshold into groups.
// Each group lists the copy to keep first. Stateless.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "core/Records.h"

namespace quillmere {

class Library;

class DuplicateFinder {
 public:
  // Cosine similarities: at or above exact, the same picture (copies, re-encodes, resizes);
  // at or above near, near-duplicates such as bursts and retakes as well.
  static constexpr float exact = 0.985f;
  static constexpr float near = 0.93f;

  struct Group {
    std::vector<MediaFile> files;  // two or more photos, the copy to keep first
    float similarity = 0;          // the lowest similarity among the qualifying pairs
    // Each file's own similarity to the copy to keep, in the order of files (the first's is
    // its similarity to itself): a chain of near shots can be linked at exact pairs while its
    // ends differ.
    std::vector<float> similarities;

    std::int64_t id() const { return files.empty() ? 0 : files.front().id; }
    // The same picture: even the group's lowest qualifying pair is exact. Both front ends
    // word a group and offer its copies by this alone.
    bool isExact() const { return similarity >= exact; }
    // The files offered for removal: every copy after the one to keep when the group is the
    // same picture, none when it is only alike.
    std::span<const MediaFile> copies() const {
      if (!isExact() || files.size() < 2) return {};
      return std::span<const MediaFile>(files).subspan(1);
    }

    bool operator==(const Group&) const = default;
  };

  // Rows and columns of one tile of the similarity matrix.
  static constexpr std::size_t tileSize = 1024;

  // Groups of indexed photos (of the given roots, or all) with at least one pair of
  // members at or above threshold, largest groups first, then the most similar. A group
  // lists each file on disk once, however many folders store it, and no file gone from a
  // folder that can be reached (those of an unreachable folder stay). progress
  // gets the fraction of tiles done after each tile, on the calling thread. Runs to
  // completion on the calling thread; the library's locks are held only while files and
  // vectors are copied out.
  static std::vector<Group> find(const Library& library, float threshold,
                                 const std::optional<std::set<std::int64_t>>& roots = {},
                                 const std::function<void(double)>& progress = {});

  DuplicateFinder() = delete;
};

}  // namespace quillmere
