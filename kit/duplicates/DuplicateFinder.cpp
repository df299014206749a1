#include "duplicates/DuplicateFinder.h"

#include <cblas.h>

#include <algorithm>
#include <cstddef>
#include <map>
#include <numeric>
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

}  // namespace

std::vector<DuplicateFinder::Group> DuplicateFinder::find(
    const Library& library, float threshold, const std::optional<std::set<std::int64_t>>& roots,
    const std::function<void(double)>& progress) {
  const Candidates candidates = collect(library, roots);
  const std::size_t n = candidates.files.size();
  if (n < 2) return {};
  const std::size_t dim = library.vectors().dim();
  const float* m = candidates.matrix.data();

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

  std::map<std::size_t, std::vector<std::size_t>> members;  // root -> indices, ascending
  for (std::size_t k = 0; k < n; ++k) members[groups.root(k)].push_back(k);

  std::vector<Group> result;
  for (const auto& [root, indices] : members) {
    if (indices.size() < 2) continue;
    Group group;
    group.files.reserve(indices.size());
    for (std::size_t k : indices) group.files.push_back(candidates.files[k]);
    std::stable_sort(group.files.begin(), group.files.end(), keepsBefore);
    group.similarity = groups.lowest(root);
    result.push_back(std::move(group));
  }
  std::stable_sort(result.begin(), result.end(), [](const Group& a, const Group& b) {
    if (a.files.size() != b.files.size()) return a.files.size() > b.files.size();
    return a.similarity > b.similarity;
  });
  return result;
}

}  // namespace quillmere
