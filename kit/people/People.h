// SPDX-License-Identifier: GPL-3.0-or-later
// What both front ends do with people: list them, name, merge, hide, move a face, say a
// face is not a person, a person's moments, grouping the faces as they arrive and again in
// full, faces like a given one, and forgetting every face.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "index/Library.h"
#include "people/FaceGrouping.h"

namespace quillmere {

class People {
 public:
  // One picture in which a person (or every person asked for) appears.
  struct Moment {
    MediaFile file;
    double time = 0;          // the picture's: 0 for a photo, the second of a video
    std::int64_t faceID = 0;  // a face of the first person asked for in it
    float score = 0;          // similarTo: how close the face is to the one asked about
    bool operator==(const Moment&) const = default;
  };
  // What a grouping did.
  struct Grouping {
    std::size_t faces = 0;   // faces it looked at
    std::size_t placed = 0;  // faces now with a person
    std::size_t people = 0;  // people now
    bool operator==(const Grouping&) const = default;
  };

  // library must outlive this.
  explicit People(Library& library, FaceGrouping::Settings settings = {});

  std::vector<Library::Person> list() { return library_.people(); }
  // The person of that id, or the one whose name is this (case aside), else absent.
  std::optional<Library::Person> find(const std::string& idOrName);
  bool name(std::int64_t person, const std::string& name) {
    return library_.namePerson(person, name);
  }
  bool merge(std::int64_t keep, std::int64_t other) { return library_.mergePeople(keep, other); }
  bool move(std::int64_t face, std::int64_t person) { return library_.moveFace(face, person); }
  bool notThisPerson(std::int64_t face) { return library_.refuseFace(face); }
  bool hide(std::int64_t person, bool hidden) { return library_.hidePerson(person, hidden); }
  void forget() { library_.forgetFaces(); }

  // The pictures in which every one of the people appears, in file and time order.
  std::vector<Moment> momentsWith(std::span<const std::int64_t> people);
  // The pictures (other than its own) holding a face within the grouping's distance of
  // this face, closest first, at most limit; empty for an unknown face.
  std::vector<Moment> similarTo(std::int64_t face, std::size_t limit);

  // Places the faces that wait (as the index adds them).
  Grouping group();
  // Groups every face again, keeping each of the user's choices.
  Grouping regroup();

 private:
  Grouping apply(const std::vector<Library::FacePlacement>& placements, bool full,
                 std::size_t looked);

  Library& library_;
  FaceGrouping::Settings settings_;
};

}  // namespace quillmere
