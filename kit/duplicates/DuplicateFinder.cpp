// SPDX-License-Identifier: GPL-3.0-or-later
// Groups of the library's photos whose stored vectors show the same picture.
#include "duplicates/DuplicateFinder.h"

#include <cblas.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <map>
#include <numeric>
#include <string>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "core/Float16.h"
#include "index/Library.h"

namespace quillmere {
namespace {

// Photos that take part, and the matrix of their first vectors, one row each.
struct Candidates {
  std::vector<MediaFile> files;
  std::vector<float> matrix;  // files.size() rows of dim values
};

Candidates collect(const Library& library, const std::optional<std::set<std::int64_t>>& roots) {
  const VectorIndex& index = library.vectors();
  const std::size_t dim = index.dim();
  Candidates result;
  for (MediaFile& file : library.allFiles()) {
    if (file.kind != MediaKind::photo || file.state != FileState::indexed) continue;
    if (roots && !roots->contains(file.rootID)) continue;
    const auto rows = index.vectors(file.id);
    if (rows.empty()) continue;
    const std::size_t offset = result.matrix.size();
    result.matrix.resize(offset + dim);
    floatsFromHalves(rows.front().second, std::span<float>(result.matrix).subspan(offset, dim));
    result.files.push_back(std::move(file));
  }
  return result;
}

class UnionFind {
 public:
  explicit UnionFind(std::size_t n) : parent_(n) {
    std::iota(parent_.begin(), parent_.end(), std::size_t{0});
  }

  // Path halving: every node on the way is pointed at its grandparent.
  std::size_t root(std::size_t x) {
    while (parent_[x] != x) {
      parent_[x] = parent_[parent_[x]];
      x = parent_[x];
    }
    return x;
  }

  // A qualifying pair of similarity s: joins the two groups, keeping each group's lowest
  // similarity at its root.
  void join(std::size_t x, std::size_t y, float s) {
    const std::size_t a = root(x);
    const std::size_t b = root(y);
    if (a != b) {
      parent_[a] = b;
      sims_[b] = std::min({s, lowest(a), lowest(b)});
    } else {
      sims_[a] = std::min(s, lowest(a));
    }
  }

  float lowest(std::size_t r) const {
    const auto found = sims_.find(r);
    return found == sims_.end() ? 1.0f : found->second;
  }

 private:
  std::vector<std::size_t> parent_;
  std::unordered_map<std::size_t, float> sims_;
};

// The keeper first: more pixels, then more bytes, then the older file.
bool keepsBefore(const MediaFile& a, const MediaFile& b) {
  const std::int64_t pixelsA = static_cast<std::int64_t>(a.width) * a.height;
  const std::int64_t pixelsB = static_cast<std::int64_t>(b.width) * b.height;
  if (pixelsA != pixelsB) return pixelsA > pixelsB;
  if (a.size != b.size) return a.size > b.size;
  return a.mtime < b.mtime;
}

// Scans one R x C tile (row stride C) for pairs at or above threshold; on the diagonal
// only the pairs above it, so each pair is seen once and no photo meets itself.
void scanTile(const float* tile, std::size_t r0, std::size_t rows, std::size_t c0,
              std::size_t columns, float threshold, UnionFind& groups) {
  for (std::size_t t = 0; t < rows; ++t) {
    const float* line = tile + t * columns;
    const std::size_t first = c0 == r0 ? t + 1 : 0;
    // Most lines hold no qualifying pair: one branch-free pass rules them out.
    float highest = -1e30f;
    for (std::size_t i = first; i < columns; ++i) highest = line[i] > highest ? line[i] : highest;
    if (!(highest >= threshold)) continue;
    for (std::size_t i = first; i < columns; ++i) {
      if (line[i] >= threshold) groups.join(r0 + t, c0 + i, line[i]);
    }
  }
}

// One component of the graph of qualifying pairs: its rows, ascending, and its lowest
// qualifying similarity.
struct Cluster {
  std::vector<std::size_t> rows;
  float similarity = 1;
};

// The clusters of two or more among the n rows of m (dim columns), every pair compared once
// in tiles of the upper triangle; progress after each tile.
std::vector<Cluster> cluster(const float* m, std::size_t n, std::size_t dim, float threshold,
                             const std::function<void(double)>& progress) {
  constexpr std::size_t tileSize = DuplicateFinder::tileSize;
  UnionFind groups(n);
  std::vector<float> tile(tileSize * tileSize, 0.0f);
  const std::size_t blocks = (n + tileSize - 1) / tileSize;
  const std::size_t tiles = blocks * (blocks + 1) / 2;
  std::size_t done = 0;
  for (std::size_t r0 = 0; r0 < n; r0 += tileSize) {
    const std::size_t rows = std::min(tileSize, n - r0);
    for (std::size_t c0 = r0; c0 < n; c0 += tileSize) {
      const std::size_t columns = std::min(tileSize, n - c0);
      cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasTrans, static_cast<int>(rows),
                  static_cast<int>(columns), static_cast<int>(dim), 1.0f, m + r0 * dim,
                  static_cast<int>(dim), m + c0 * dim, static_cast<int>(dim), 0.0f, tile.data(),
                  static_cast<int>(columns));
      scanTile(tile.data(), r0, rows, c0, columns, threshold, groups);
      ++done;
      if (progress) progress(static_cast<double>(done) / static_cast<double>(tiles));
    }
  }

  std::map<std::size_t, std::vector<std::size_t>> members;  // root -> rows, ascending
  for (std::size_t k = 0; k < n; ++k) members[groups.root(k)].push_back(k);
  std::vector<Cluster> clusters;
  for (auto& [root, rows] : members) {
    if (rows.size() >= 2) clusters.push_back({std::move(rows), groups.lowest(root)});
  }
  return clusters;
}

// Where the files of the library are on disk. A file stored under two folders (one inside
// the other, or one reached through a link) is one place; a file gone from a folder that
// can be reached is nowhere; the files of a folder that cannot be reached (an unplugged
// drive) stay where they were, as they may come back.
class Places {
 public:
  explicit Places(const Library& library) {
    for (const Root& root : library.roots()) {
      std::error_code error;
      folders_[root.id] = {root.basePath(), std::filesystem::is_directory(root.path, error)};
    }
  }

  // The file's resolved path when its folder is reachable, its stored path otherwise;
  // nothing when it is known to be gone.
  std::optional<std::string> of(const MediaFile& file) const {
    const auto folder = folders_.find(file.rootID);
    if (folder == folders_.end()) return std::nullopt;
    const std::filesystem::path stored = (folder->second.path / file.relPath).lexically_normal();
    if (!folder->second.reachable) return stored.native();
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(stored, error);
    if (!error) return resolved.native();
    if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory)
      return std::nullopt;
    return stored.native();  // unreadable just now, not known to be gone
  }

 private:
  struct Folder {
    std::filesystem::path path;
    bool reachable = false;
  };
  std::map<std::int64_t, Folder> folders_;
};

// The rows whose files are somewhere, each place once (its first row).
std::vector<std::size_t> onDisk(const std::vector<std::size_t>& rows,
                                const std::vector<MediaFile>& files, const Places& places) {
  std::vector<std::size_t> kept;
  std::set<std::string> seen;
  for (std::size_t k : rows) {
    const auto place = places.of(files[k]);
    if (place && seen.insert(*place).second) kept.push_back(k);
  }
  return kept;
}

float dotProduct(const float* a, const float* b, std::size_t dim) {
  return cblas_sdot(static_cast<int>(dim), a, 1, b, 1);
}

DuplicateFinder::Group makeGroup(std::vector<std::size_t> rows, float similarity,
                                 const Candidates& candidates, std::size_t dim) {
  const std::vector<MediaFile>& files = candidates.files;
  std::stable_sort(rows.begin(), rows.end(), [&files](std::size_t a, std::size_t b) {
    return keepsBefore(files[a], files[b]);
  });
  DuplicateFinder::Group group;
  group.files.reserve(rows.size());
  group.similarities.reserve(rows.size());
  const float* keeper = candidates.matrix.data() + rows.front() * dim;
  for (std::size_t k : rows) {
    group.files.push_back(files[k]);
    group.similarities.push_back(dotProduct(candidates.matrix.data() + k * dim, keeper, dim));
  }
  group.similarity = similarity;
  return group;
}

// The groups a cluster leaves once its files are checked on disk. Without the files that
// are gone or listed twice the rest may no longer hang together, so they are clustered again.
std::vector<DuplicateFinder::Group> groupsOnDisk(const Cluster& found, const Candidates& candidates,
                                                 std::size_t dim, float threshold,
                                                 const Places& places) {
  const std::vector<std::size_t> kept = onDisk(found.rows, candidates.files, places);
  if (kept.size() == found.rows.size()) {
    return {makeGroup(found.rows, found.similarity, candidates, dim)};
  }
  std::vector<DuplicateFinder::Group> groups;
  if (kept.size() < 2) return groups;
  std::vector<float> matrix;
  matrix.reserve(kept.size() * dim);
  for (std::size_t k : kept) {
    const auto row = candidates.matrix.begin() + static_cast<std::ptrdiff_t>(k * dim);
    matrix.insert(matrix.end(), row, row + static_cast<std::ptrdiff_t>(dim));
  }
  for (Cluster& part : cluster(matrix.data(), kept.size(), dim, threshold, {})) {
    for (std::size_t& row : part.rows) row = kept[row];
    groups.push_back(makeGroup(std::move(part.rows), part.similarity, candidates, dim));
  }
  return groups;
}

}  // namespace

std::vector<DuplicateFinder::Group> DuplicateFinder::find(
    const Library& library, float threshold, const std::optional<std::set<std::int64_t>>& roots,
    const std::function<void(double)>& progress) {
  const Candidates candidates = collect(library, roots);
  const std::size_t n = candidates.files.size();
  if (n < 2) return {};
  const std::size_t dim = library.vectors().dim();

  const std::vector<Cluster> clusters =
      cluster(candidates.matrix.data(), n, dim, threshold, progress);
  // Files are looked up on disk only once they are found in a group: few are.
  const Places places(library);
  std::vector<Group> result;
  for (const Cluster& found : clusters) {
    for (Group& group : groupsOnDisk(found, candidates, dim, threshold, places))
      result.push_back(std::move(group));
  }
  std::stable_sort(result.begin(), result.end(), [](const Group& a, const Group& b) {
    if (a.files.size() != b.files.size()) return a.files.size() > b.files.size();
    return a.similarity > b.similarity;
  });
  return result;
}

}  // namespace quillmere
