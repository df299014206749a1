// SPDX-License-Identifier: GPL-3.0-or-later
#include "people/FaceNeighbours.h"

#include <cblas.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

#include "vectors/WorkerPool.h"

namespace quillmere {
namespace {

constexpr std::size_t blockRows = 1024;
constexpr std::size_t trainingRounds = 8;
constexpr std::size_t samplesPerCell = 40;

using Floats = std::vector<float>;

// out (m × k) = a (m × dim) · b (k × dim)ᵀ
void products(const float* a, std::size_t m, const float* b, std::size_t k, std::size_t dim,
              float* out) {
  cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasTrans, static_cast<int>(m), static_cast<int>(k),
              static_cast<int>(dim), 1.0f, a, static_cast<int>(dim), b, static_cast<int>(dim), 0.0f,
              out, static_cast<int>(k));
}

void gather(std::span<const Half> vectors, std::size_t dim, std::span<const std::uint32_t> rows,
            Floats& out) {
  out.resize(rows.size() * dim);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    floatsFromHalves(vectors.subspan(rows[i] * dim, dim), std::span(out).subspan(i * dim, dim));
  }
}

// The nearest of k centres for each of the rows.
std::vector<std::uint32_t> nearest(std::span<const Half> vectors, std::size_t dim,
                                   std::span<const std::uint32_t> rows, const Floats& centres,
                                   std::size_t k) {
  std::vector<std::uint32_t> best(rows.size());
  WorkerPool& pool = WorkerPool::shared();
  std::vector<Floats> block(pool.slots()), scores(pool.slots());
  pool.run((rows.size() + blockRows - 1) / blockRows, [&](std::size_t b, std::size_t slot) {
    const std::size_t from = b * blockRows, count = std::min(blockRows, rows.size() - from);
    gather(vectors, dim, rows.subspan(from, count), block[slot]);
    scores[slot].resize(count * k);
    products(block[slot].data(), count, centres.data(), k, dim, scores[slot].data());
    for (std::size_t i = 0; i < count; ++i) {
      const float* row = scores[slot].data() + i * k;
      best[from + i] = static_cast<std::uint32_t>(std::max_element(row, row + k) - row);
    }
  });
  return best;
}

void normalise(float* v, std::size_t dim) {
  float sum = 0;
  for (std::size_t i = 0; i < dim; ++i) sum += v[i] * v[i];
  if (sum <= 0) return;
  const float scale = 1.0f / std::sqrt(sum);
  for (std::size_t i = 0; i < dim; ++i) v[i] *= scale;
}

// Spherical k-means over a sample of the faces: k unit centres.
Floats trainCentres(std::span<const Half> vectors, std::size_t dim, std::size_t n, std::size_t k) {
  std::mt19937 random(20261211);
  std::vector<std::uint32_t> sample(n);
  std::iota(sample.begin(), sample.end(), 0u);
  std::shuffle(sample.begin(), sample.end(), random);
  sample.resize(std::min(n, k * samplesPerCell));
  Floats centres;
  gather(vectors, dim, std::span(sample).first(k), centres);
  Floats point(dim);
  for (std::size_t round = 0; round < trainingRounds; ++round) {
    const auto best = nearest(vectors, dim, sample, centres, k);
    Floats sums(k * dim, 0.0f);
    std::vector<std::size_t> sizes(k, 0);
    for (std::size_t i = 0; i < sample.size(); ++i) {
      floatsFromHalves(vectors.subspan(sample[i] * dim, dim), point);
      float* sum = sums.data() + best[i] * dim;
      for (std::size_t j = 0; j < dim; ++j) sum[j] += point[j];
      ++sizes[best[i]];
    }
    for (std::size_t c = 0; c < k; ++c) {
      // An empty cell starts again from a random face.
      if (sizes[c] == 0) {
        floatsFromHalves(vectors.subspan(sample[random() % sample.size()] * dim, dim),
                         std::span(sums).subspan(c * dim, dim));
      }
      normalise(sums.data() + c * dim, dim);
    }
    centres = std::move(sums);
  }
  return centres;
}

// The probes cells whose centres lie nearest each cell's own.
std::vector<std::vector<std::uint32_t>> nearbyCells(const Floats& centres, std::size_t k,
                                                    std::size_t dim, std::size_t probes) {
  std::vector<std::vector<std::uint32_t>> nearby(k);
  probes = std::min(probes, k - 1);
  if (probes == 0) return nearby;
  Floats scores(k * k);
  products(centres.data(), k, centres.data(), k, dim, scores.data());
  std::vector<std::uint32_t> order(k);
  for (std::size_t c = 0; c < k; ++c) {
    const float* row = scores.data() + c * k;
    std::iota(order.begin(), order.end(), 0u);
    std::partial_sort(
        order.begin(), order.begin() + static_cast<std::ptrdiff_t>(probes + 1), order.end(),
        [&](std::uint32_t a, std::uint32_t b) { return a == c || (b != c && row[a] > row[b]); });
    nearby[c].assign(order.begin() + 1, order.begin() + static_cast<std::ptrdiff_t>(probes + 1));
  }
  return nearby;
}

}  // namespace

FaceNeighbours::Graph FaceNeighbours::find(std::span<const Half> vectors, std::size_t dim,
                                           const Settings& settings) {
  const std::size_t n = dim == 0 ? 0 : vectors.size() / dim;
  Graph graph{.counts = std::vector<std::uint32_t>(n, 0),
              .edges = std::vector<std::uint32_t>(n * settings.kept, none),
              .kept = settings.kept};
  if (n == 0) return graph;
  const std::size_t k = std::max<std::size_t>(1, n / std::max<std::size_t>(1, settings.cellFaces));
  std::vector<std::vector<std::uint32_t>> cells(k);
  std::vector<std::vector<std::uint32_t>> nearby(k);
  if (k == 1) {
    cells[0].resize(n);
    std::iota(cells[0].begin(), cells[0].end(), 0u);
  } else {
    const Floats centres = trainCentres(vectors, dim, n, k);
    std::vector<std::uint32_t> all(n);
    std::iota(all.begin(), all.end(), 0u);
    const auto best = nearest(vectors, dim, all, centres, k);
    for (std::uint32_t i = 0; i < n; ++i) cells[best[i]].push_back(i);
    nearby = nearbyCells(centres, k, dim, settings.probes);
  }
  WorkerPool& pool = WorkerPool::shared();
  std::vector<Floats> own(pool.slots()), reach(pool.slots()), scores(pool.slots());
  std::vector<std::vector<std::uint32_t>> reachRows(pool.slots());
  pool.run(k, [&](std::size_t c, std::size_t slot) {
    const auto& members = cells[c];
    if (members.empty()) return;
    auto& rows = reachRows[slot];
    rows = members;
    for (const std::uint32_t other : nearby[c]) {
      rows.insert(rows.end(), cells[other].begin(), cells[other].end());
    }
    gather(vectors, dim, rows, reach[slot]);
    for (std::size_t from = 0; from < members.size(); from += blockRows) {
      const std::size_t count = std::min(blockRows, members.size() - from);
      scores[slot].resize(count * rows.size());
      products(reach[slot].data() + from * dim, count, reach[slot].data(), rows.size(), dim,
               scores[slot].data());
      for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t face = members[from + i];
        const float* row = scores[slot].data() + i * rows.size();
        std::uint32_t found = 0;
        for (std::size_t j = 0; j < rows.size(); ++j) {
          if (row[j] < settings.cosine || rows[j] == face) continue;
          if (found < settings.kept) graph.edges[face * settings.kept + found] = rows[j];
          ++found;
        }
        graph.counts[face] = found;
      }
    }
  });
  return graph;
}

}  // namespace quillmere
