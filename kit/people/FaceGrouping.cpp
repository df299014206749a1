// SPDX-License-Identifier: GPL-3.0-or-later
#include "people/FaceGrouping.h"

#include <cblas.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <numeric>
#include <set>
#include <tuple>

namespace quillmere {
namespace {

using Faces = std::vector<Library::StoredFace>;

class UnionFind {
 public:
  explicit UnionFind(std::size_t n) : parent_(n) { std::iota(parent_.begin(), parent_.end(), 0u); }
  std::uint32_t root(std::uint32_t i) {
    while (parent_[i] != i) i = parent_[i] = parent_[parent_[i]];
    return i;
  }
  void join(std::uint32_t a, std::uint32_t b) {
    a = root(a);
    b = root(b);
    if (a != b) parent_[std::max(a, b)] = std::min(a, b);
  }

 private:
  std::vector<std::uint32_t> parent_;
};

std::size_t widthOf(const Faces& faces) {
  for (const auto& face : faces) {
    if (!face.vector.empty()) return face.vector.size();
  }
  return 0;
}

// The faces that may form people: good enough, with a vector of the common width.
std::vector<std::size_t> formingFaces(const Faces& faces, std::size_t dim, float quality,
                                      const Library::FaceChoices& choices, bool waitingOnly) {
  std::vector<std::size_t> chosen;
  for (std::size_t i = 0; i < faces.size(); ++i) {
    const auto& face = faces[i];
    if (face.quality < quality || face.vector.size() != dim || dim == 0) continue;
    if (waitingOnly && (face.personID || choices.placed.contains(face.id))) continue;
    chosen.push_back(i);
  }
  return chosen;
}

std::vector<Half> vectorsOf(const Faces& faces, const std::vector<std::size_t>& which,
                            std::size_t dim) {
  std::vector<Half> halves;
  halves.reserve(which.size() * dim);
  for (const std::size_t i : which) {
    halves.insert(halves.end(), faces[i].vector.begin(), faces[i].vector.end());
  }
  return halves;
}

bool refused(const Library::FaceChoices& choices, std::int64_t face, std::int64_t person) {
  return choices.refused.contains({face, person});
}

// The person each group goes to: the one most of its faces were placed with or were with,
// a person taking one group unless the user placed faces of several with it (a merge).
std::vector<std::int64_t> owners(const Faces& faces, const std::vector<std::size_t>& forming,
                                 const std::vector<std::int64_t>& labels,
                                 const Library::FaceChoices& choices) {
  const std::int64_t groups =
      labels.empty() ? 0 : *std::max_element(labels.begin(), labels.end()) + 1;
  std::vector<std::map<std::int64_t, std::size_t>> votes(groups);
  std::set<std::pair<std::int64_t, std::int64_t>> placedIn;  // group, person
  for (std::size_t i = 0; i < forming.size(); ++i) {
    if (labels[i] < 0) continue;
    const auto& face = faces[forming[i]];
    if (const auto at = choices.placed.find(face.id); at != choices.placed.end()) {
      ++votes[labels[i]][at->second];
      placedIn.emplace(labels[i], at->second);
    } else if (face.personID) {
      ++votes[labels[i]][*face.personID];
    }
  }
  std::vector<std::tuple<std::size_t, std::int64_t, std::int64_t>> claims;  // count, group, person
  for (std::int64_t g = 0; g < groups; ++g) {
    for (const auto& [person, count] : votes[g]) claims.emplace_back(count, g, person);
  }
  std::sort(claims.begin(), claims.end(), [](const auto& a, const auto& b) {
    return std::get<0>(a) != std::get<0>(b) ? std::get<0>(a) > std::get<0>(b) : a < b;
  });
  std::vector<std::int64_t> owner(groups, 0);
  std::set<std::int64_t> claimed;
  for (const auto& [count, group, person] : claims) {
    if (owner[group] != 0) continue;
    if (claimed.contains(person) && !placedIn.contains({group, person})) continue;
    owner[group] = person;
    claimed.insert(person);
  }
  for (std::int64_t g = 0; g < groups; ++g) {
    if (owner[g] == 0) owner[g] = -(g + 1);
  }
  return owner;
}

// Joins the groups whose mean directions lie within cosine of each other, and puts each
// waiting face with the group whose mean lies nearest it within faceCosine; labels numbered
// again from 0.
void joinClose(std::span<const Half> vectors, std::size_t dim, float cosine, float faceCosine,
               std::vector<std::int64_t>& labels) {
  const std::int64_t groups =
      labels.empty() ? 0 : *std::max_element(labels.begin(), labels.end()) + 1;
  if (groups < 2) return;
  std::vector<float> means(static_cast<std::size_t>(groups) * dim, 0.0f), point(dim);
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (labels[i] < 0) continue;
    floatsFromHalves(vectors.subspan(i * dim, dim), point);
    float* mean = means.data() + labels[i] * dim;
    for (std::size_t j = 0; j < dim; ++j) mean[j] += point[j];
  }
  for (std::int64_t g = 0; g < groups; ++g) {
    float* mean = means.data() + g * dim;
    float norm = 0;
    for (std::size_t j = 0; j < dim; ++j) norm += mean[j] * mean[j];
    for (std::size_t j = 0; j < dim; ++j) mean[j] /= std::sqrt(norm);
  }
  const std::size_t n = static_cast<std::size_t>(groups), block = 1024;
  UnionFind joined(n);
  std::vector<float> scores(block * n);
  for (std::size_t from = 0; from < n; from += block) {
    const std::size_t count = std::min(block, n - from);
    cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasTrans, static_cast<int>(count),
                static_cast<int>(n), static_cast<int>(dim), 1.0f, means.data() + from * dim,
                static_cast<int>(dim), means.data(), static_cast<int>(dim), 0.0f, scores.data(),
                static_cast<int>(n));
    for (std::size_t i = 0; i < count; ++i) {
      for (std::size_t j = from + i + 1; j < n; ++j) {
        if (scores[i * n + j] >= cosine) {
          joined.join(static_cast<std::uint32_t>(from + i), static_cast<std::uint32_t>(j));
        }
      }
    }
  }
  std::vector<std::size_t> waiting;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (labels[i] < 0) waiting.push_back(i);
  }
  for (std::size_t from = 0; from < waiting.size(); from += block) {
    const std::size_t count = std::min(block, waiting.size() - from);
    std::vector<float> faces(count * dim);
    for (std::size_t i = 0; i < count; ++i) {
      floatsFromHalves(vectors.subspan(waiting[from + i] * dim, dim),
                       std::span(faces).subspan(i * dim, dim));
    }
    cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasTrans, static_cast<int>(count),
                static_cast<int>(n), static_cast<int>(dim), 1.0f, faces.data(),
                static_cast<int>(dim), means.data(), static_cast<int>(dim), 0.0f, scores.data(),
                static_cast<int>(n));
    for (std::size_t i = 0; i < count; ++i) {
      const float* row = scores.data() + i * n;
      const std::size_t best = static_cast<std::size_t>(std::max_element(row, row + n) - row);
      if (row[best] >= faceCosine) labels[waiting[from + i]] = static_cast<std::int64_t>(best);
    }
  }
  std::map<std::uint32_t, std::int64_t> numbers;
  for (auto& label : labels) {
    if (label < 0) continue;
    const std::uint32_t root = joined.root(static_cast<std::uint32_t>(label));
    label = numbers.try_emplace(root, static_cast<std::int64_t>(numbers.size())).first->second;
  }
}

// One face a picture for each person: where faces of one picture went to one person, the
// face nearest the person's mean stays and the others wait. Fixed faces (the user's, or
// placed before) always stay, and then they alone.
void onePerPicture(const Faces& faces, std::size_t dim, std::vector<std::int64_t>& person,
                   const std::function<bool(std::size_t)>& fixed) {
  std::map<std::tuple<std::int64_t, std::int64_t, double>, std::vector<std::size_t>> pictures;
  for (std::size_t i = 0; i < faces.size(); ++i) {
    if (person[i] != 0) pictures[{person[i], faces[i].fileID, faces[i].time}].push_back(i);
  }
  std::map<std::int64_t, std::vector<float>> means;
  for (const auto& [key, list] : pictures) {
    if (list.size() > 1) means.try_emplace(std::get<0>(key), dim, 0.0f);
  }
  if (means.empty()) return;
  std::vector<float> point(dim);
  for (std::size_t i = 0; i < faces.size(); ++i) {
    const auto at = means.find(person[i]);
    if (at == means.end() || faces[i].vector.size() != dim) continue;
    floatsFromHalves(faces[i].vector, point);
    for (std::size_t j = 0; j < dim; ++j) at->second[j] += point[j];
  }
  const auto closeness = [&](std::size_t i) {
    if (faces[i].vector.size() != dim) return -1e30f;
    floatsFromHalves(faces[i].vector, point);
    const auto& mean = means.at(person[i]);
    return std::inner_product(point.begin(), point.end(), mean.begin(), 0.0f);
  };
  for (const auto& [key, list] : pictures) {
    if (list.size() < 2) continue;
    const bool anyFixed = std::any_of(list.begin(), list.end(), fixed);
    std::size_t best = list.front();
    float bestCloseness = closeness(best);
    for (const std::size_t i : list) {
      if (const float c = closeness(i); c > bestCloseness) {
        best = i;
        bestCloseness = c;
      }
    }
    for (const std::size_t i : list) {
      if (anyFixed ? !fixed(i) : i != best) person[i] = 0;
    }
  }
}

}  // namespace

std::vector<std::int64_t> FaceGrouping::clusters(std::span<const Half> vectors, std::size_t dim,
                                                 const Settings& settings) {
  const FaceNeighbours::Graph graph = FaceNeighbours::find(
      vectors, dim,
      {.cosine = settings.cosine, .probes = settings.probes, .cellFaces = settings.cellFaces});
  const std::size_t n = graph.counts.size();
  std::vector<bool> core(n);
  for (std::size_t i = 0; i < n; ++i) core[i] = graph.counts[i] >= settings.neighbours;
  UnionFind groups(n);
  const auto neighboursOf = [&](std::size_t i) {
    return std::span(graph.edges).subspan(i * graph.kept, graph.kept);
  };
  for (std::size_t i = 0; i < n; ++i) {
    if (!core[i]) continue;
    for (const std::uint32_t j : neighboursOf(i)) {
      if (j != FaceNeighbours::none && core[j]) groups.join(static_cast<std::uint32_t>(i), j);
    }
  }
  // A face close to a core face joins its group; either of the two may have found the other.
  std::vector<std::int64_t> joined(n, -1);
  for (std::size_t i = 0; i < n; ++i) {
    if (core[i]) joined[i] = groups.root(static_cast<std::uint32_t>(i));
  }
  for (std::size_t i = 0; i < n; ++i) {
    for (const std::uint32_t j : neighboursOf(i)) {
      if (j == FaceNeighbours::none) break;
      if (!core[i] && core[j] && joined[i] < 0) joined[i] = joined[j];
      if (core[i] && !core[j] && joined[j] < 0) joined[j] = joined[i];
    }
  }
  std::map<std::int64_t, std::int64_t> numbers;
  std::vector<std::int64_t> labels(n, -1);
  for (std::size_t i = 0; i < n; ++i) {
    if (joined[i] < 0) continue;
    labels[i] =
        numbers.try_emplace(joined[i], static_cast<std::int64_t>(numbers.size())).first->second;
  }
  joinClose(vectors, dim, settings.meanCosine, settings.cosine, labels);
  return labels;
}

std::vector<Library::FacePlacement> FaceGrouping::regrouped(const Faces& faces,
                                                            const Library::FaceChoices& choices,
                                                            const Settings& settings) {
  const std::size_t dim = widthOf(faces);
  const auto forming = formingFaces(faces, dim, settings.quality, choices, false);
  const auto labels = clusters(vectorsOf(faces, forming, dim), dim, settings);
  const auto owner = owners(faces, forming, labels, choices);
  std::vector<std::int64_t> person(faces.size(), 0);
  for (std::size_t i = 0; i < forming.size(); ++i) {
    if (labels[i] < 0) continue;
    const std::int64_t chosen = owner[labels[i]];
    if (!refused(choices, faces[forming[i]].id, chosen)) person[forming[i]] = chosen;
  }
  for (std::size_t i = 0; i < faces.size(); ++i) {
    if (const auto at = choices.placed.find(faces[i].id); at != choices.placed.end()) {
      person[i] = at->second;
    }
  }
  onePerPicture(faces, dim, person,
                [&](std::size_t i) { return choices.placed.contains(faces[i].id); });
  std::vector<Library::FacePlacement> placements;
  placements.reserve(faces.size());
  for (std::size_t i = 0; i < faces.size(); ++i) placements.emplace_back(faces[i].id, person[i]);
  return placements;
}

std::vector<Library::FacePlacement> FaceGrouping::grown(const Faces& faces,
                                                        const Library::FaceChoices& choices,
                                                        const Settings& settings) {
  const std::size_t dim = widthOf(faces);
  auto waiting = formingFaces(faces, dim, settings.quality, choices, true);
  std::vector<Library::FacePlacement> placements;
  if (waiting.empty()) return placements;
  std::vector<std::int64_t> person(faces.size(), 0);
  for (std::size_t i = 0; i < faces.size(); ++i) person[i] = faces[i].personID.value_or(0);
  // Each person's mean direction, from the faces it holds.
  std::map<std::int64_t, std::vector<float>> sums;
  std::vector<float> point(dim);
  for (const auto& face : faces) {
    if (!face.personID || face.vector.size() != dim) continue;
    auto& sum = sums.try_emplace(*face.personID, dim, 0.0f).first->second;
    floatsFromHalves(face.vector, point);
    for (std::size_t j = 0; j < dim; ++j) sum[j] += point[j];
  }
  std::vector<std::int64_t> ids;
  std::vector<float> centres;
  for (auto& [id, sum] : sums) {
    float norm = 0;
    for (const float v : sum) norm += v * v;
    norm = std::sqrt(norm);
    ids.push_back(id);
    for (const float v : sum) centres.push_back(norm > 0 ? v / norm : 0);
  }
  // The waiting faces against every person's mean, a block of faces per matrix product.
  std::vector<std::size_t> rest;
  constexpr std::size_t block = 1024;
  const std::size_t people = ids.size();
  std::vector<float> scores(block * people);
  for (std::size_t from = 0; from < waiting.size(); from += block) {
    const std::size_t count = std::min(block, waiting.size() - from);
    const auto halves =
        vectorsOf(faces, {waiting.begin() + from, waiting.begin() + from + count}, dim);
    const auto floats = floatsFromHalves(halves);
    if (people > 0) {
      cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasTrans, static_cast<int>(count),
                  static_cast<int>(people), static_cast<int>(dim), 1.0f, floats.data(),
                  static_cast<int>(dim), centres.data(), static_cast<int>(dim), 0.0f, scores.data(),
                  static_cast<int>(people));
    }
    for (std::size_t r = 0; r < count; ++r) {
      const Library::StoredFace& face = faces[waiting[from + r]];
      std::int64_t best = 0;
      float bestScore = settings.cosine;
      for (std::size_t p = 0; p < people; ++p) {
        const float score = scores[r * people + p];
        if (score >= bestScore && !refused(choices, face.id, ids[p])) {
          best = ids[p];
          bestScore = score;
        }
      }
      if (best != 0) {
        person[waiting[from + r]] = best;
      } else {
        rest.push_back(waiting[from + r]);
      }
    }
  }
  const auto labels = clusters(vectorsOf(faces, rest, dim), dim, settings);
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (labels[i] >= 0) person[rest[i]] = -(labels[i] + 1);
  }
  onePerPicture(faces, dim, person, [&](std::size_t i) {
    return faces[i].personID.has_value() || choices.placed.contains(faces[i].id);
  });
  for (const std::size_t i : waiting) {
    if (person[i] != 0) placements.emplace_back(faces[i].id, person[i]);
  }
  return placements;
}

}  // namespace quillmere
