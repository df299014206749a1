// SPDX-License-Identifier: GPL-3.0-or-later
#include "people/People.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <utility>

#include "vectors/DotKernel.h"

namespace quillmere {
namespace {

using Picture = std::pair<std::int64_t, double>;  // file, time

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

People::People(Library& library, FaceGrouping::Settings settings)
    : library_(library), settings_(settings) {}

std::optional<Library::Person> People::find(const std::string& idOrName) {
  std::int64_t id = 0;
  const char* end = idOrName.data() + idOrName.size();
  if (const auto read = std::from_chars(idOrName.data(), end, id);
      read.ec == std::errc() && read.ptr == end) {
    if (auto person = library_.person(id)) return person;
  }
  for (auto& person : library_.people()) {
    if (person.name && lowered(*person.name) == lowered(idOrName)) return person;
  }
  return std::nullopt;
}

std::vector<People::Moment> People::momentsWith(std::span<const std::int64_t> people) {
  std::map<Picture, std::int64_t> shared;  // picture -> a face of the first person
  for (std::size_t p = 0; p < people.size(); ++p) {
    std::map<Picture, std::int64_t> pictures;
    for (const auto& face : library_.facesOf(people[p])) {
      pictures.try_emplace({face.fileID, face.time}, face.id);
    }
    if (p == 0) {
      shared = std::move(pictures);
      continue;
    }
    std::erase_if(shared, [&](const auto& entry) { return !pictures.contains(entry.first); });
  }
  std::vector<Moment> moments;
  for (const auto& [picture, face] : shared) {
    if (auto file = library_.file(picture.first)) {
      moments.push_back({.file = *file, .time = picture.second, .faceID = face});
    }
  }
  return moments;
}

std::vector<People::Moment> People::similarTo(std::int64_t faceID, std::size_t limit) {
  const auto asked = library_.face(faceID);
  if (!asked || asked->vector.empty()) return {};
  const std::vector<float> query = floatsFromHalves(asked->vector);
  std::map<Picture, std::pair<float, std::int64_t>> best;
  for (const auto& face : library_.faces()) {
    if (face.vector.size() != query.size()) continue;
    if (face.fileID == asked->fileID && face.time == asked->time) continue;
    float score = 0;
    DotKernel::score(query, face.vector.data(), 1, &score);
    if (score < settings_.cosine) continue;
    auto [at, added] = best.try_emplace({face.fileID, face.time}, score, face.id);
    if (!added && score > at->second.first) at->second = {score, face.id};
  }
  std::vector<Moment> moments;
  for (const auto& [picture, found] : best) {
    if (auto file = library_.file(picture.first)) {
      moments.push_back(
          {.file = *file, .time = picture.second, .faceID = found.second, .score = found.first});
    }
  }
  std::stable_sort(moments.begin(), moments.end(),
                   [](const Moment& a, const Moment& b) { return a.score > b.score; });
  if (moments.size() > limit) moments.resize(limit);
  return moments;
}

People::Grouping People::group() {
  const auto faces = library_.faces();
  return apply(FaceGrouping::grown(faces, library_.faceChoices(), settings_), false, faces.size());
}

People::Grouping People::regroup() {
  const auto faces = library_.faces();
  return apply(FaceGrouping::regrouped(faces, library_.faceChoices(), settings_), true,
               faces.size());
}

People::Grouping People::apply(const std::vector<Library::FacePlacement>& placements, bool full,
                               std::size_t looked) {
  if (!placements.empty() || full) library_.placeFaces(placements, full);
  Grouping done{.faces = looked};
  for (const auto& person : library_.people()) {
    ++done.people;
    done.placed += static_cast<std::size_t>(person.faces);
  }
  return done;
}

}  // namespace quillmere
