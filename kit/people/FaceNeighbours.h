// SPDX-License-Identifier: GPL-3.0-or-later
// The close neighbours of every face vector (unit length, cosine at least a threshold),
// found without a full distance matrix: the vectors are split into cells by a coarse
// k-means, and each cell is compared (one matrix product) only with itself and the cells
// whose centres lie nearest its own. Neighbours across cells no probe reaches are missed;
// the faces of one person lie close together and share a cell far more often than not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/Float16.h"

namespace quillmere {

class FaceNeighbours {
 public:
  static constexpr std::uint32_t none = 0xffffffff;

  struct Settings {
    float cosine = 0.5f;           // neighbours are at least this close
    std::size_t probes = 2;        // further cells each cell is compared with
    std::size_t kept = 24;         // neighbours kept per face (counts are whole)
    std::size_t cellFaces = 1000;  // about this many faces per cell
  };

  // count[i] neighbours of face i were found, the first `kept` of them in
  // edges[i * kept ...] (none after the last).
  struct Graph {
    std::vector<std::uint32_t> counts;
    std::vector<std::uint32_t> edges;
    std::size_t kept = 0;
  };

  // vectors holds the faces' dim halves one after another.
  static Graph find(std::span<const Half> vectors, std::size_t dim, const Settings& settings);
};

}  // namespace quillmere
