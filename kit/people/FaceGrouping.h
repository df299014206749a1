// SPDX-License-Identifier: GPL-3.0-or-later
// Grouping faces into people by density: a face with at least `neighbours` faces within
// `cosine` of it is a core face; core faces close to each other form one person, and a face
// close to a core face joins its person. The rest wait for more faces. Faces of low quality
// are kept but form no people. Every placement the user chose is kept: a face placed with a
// person stays with it, a face is never put with a person it was said not to be, and the
// person a group of faces was with keeps its id across regroupings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "index/Library.h"
#include "people/FaceNeighbours.h"

namespace quillmere {

class FaceGrouping {
 public:
  struct Settings {
    float cosine = 0.5f;         // two faces this close may be one person
    std::size_t neighbours = 3;  // close faces a face needs to form a person
    float quality = 0.4f;        // faces below it form no people
    // Groups whose mean directions are this close are one person: the parts of a person
    // that lay in cells no probe joined.
    float meanCosine = 0.75f;
    std::size_t probes = 2;  // see FaceNeighbours
    std::size_t cellFaces = 1000;
  };

  // Each face's group (0, 1, ...) or -1 where it waits: the density rule over the vectors
  // (dim halves per face, one after another).
  static std::vector<std::int64_t> clusters(std::span<const Half> vectors, std::size_t dim,
                                            const Settings& settings);

  // Where a full regrouping puts every face: each group of faces goes to the person most of
  // its placed faces were placed with, else to the person most of its faces were with (one
  // group per person), else to a new person.
  static std::vector<Library::FacePlacement> regrouped(
      const std::vector<Library::StoredFace>& faces, const Library::FaceChoices& choices,
      const Settings& settings);
  // Where the waiting faces go as they arrive: to the person whose faces' mean lies nearest
  // within the distance, or into new people formed among themselves. Only faces that move.
  static std::vector<Library::FacePlacement> grown(const std::vector<Library::StoredFace>& faces,
                                                   const Library::FaceChoices& choices,
                                                   const Settings& settings);
};

}  // namespace quillmere
