// SPDX-License-Identifier: GPL-3.0-or-later
// Grouping faces into people at 100,000 and 1,000,000 faces: synthetic face vectors drawn
// around random centres on the sphere (one centre a person, 20 to 180 faces each) at a given
// spread, grouped as a full regrouping does. Tells the time (median of the rounds), the
// process's peak memory, and the pairwise F1 of the groups against the true people (a face
// left waiting counts as alone).
//   grouping [--spread S] [--cosine C] [--rounds N] [--sizes 100000,1000000]
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "people/FaceGrouping.h"
#include "support/Measure.h"

using namespace quillmere;

namespace {

constexpr std::size_t dim = 192;

struct Faces {
  std::vector<Half> vectors;
  std::vector<std::int64_t> people;
};

std::vector<float> direction(std::mt19937& random, std::normal_distribution<float>& normal) {
  std::vector<float> v(dim);
  float norm = 0;
  for (float& x : v) {
    x = normal(random);
    norm += x * x;
  }
  for (float& x : v) x /= std::sqrt(norm);
  return v;
}

// Each face: its person's centre plus noise of length about spread, made unit again.
Faces synthetic(std::size_t count, float spread) {
  std::mt19937 random(static_cast<unsigned>(count));
  std::normal_distribution<float> normal;
  std::uniform_int_distribution<std::size_t> size(20, 180);
  Faces faces;
  faces.vectors.reserve(count * dim);
  std::vector<float> face(dim);
  for (std::int64_t person = 0; faces.people.size() < count; ++person) {
    const auto centre = direction(random, normal);
    for (std::size_t n = size(random); n > 0 && faces.people.size() < count; --n) {
      const auto noise = direction(random, normal);
      float norm = 0;
      for (std::size_t i = 0; i < dim; ++i) {
        face[i] = centre[i] + spread * noise[i];
        norm += face[i] * face[i];
      }
      for (float& x : face) x /= std::sqrt(norm);
      const auto halves = halvesFromFloats(face);
      faces.vectors.insert(faces.vectors.end(), halves.begin(), halves.end());
      faces.people.push_back(person);
    }
  }
  return faces;
}

double pairs(double n) {
  return n * (n - 1) / 2;
}

double pairwiseF1(const std::vector<std::int64_t>& truth, const std::vector<std::int64_t>& found) {
  std::unordered_map<std::int64_t, double> trueSizes, foundSizes, both;
  for (std::size_t i = 0; i < truth.size(); ++i) {
    if (found[i] < 0) continue;  // alone: in no pair
    ++foundSizes[found[i]];
    ++both[truth[i] * 1000003 + found[i]];
  }
  for (const auto person : truth) ++trueSizes[person];
  double agree = 0, foundPairs = 0, truePairs = 0;
  for (const auto& [key, n] : both) agree += pairs(n);
  for (const auto& [key, n] : foundSizes) foundPairs += pairs(n);
  for (const auto& [key, n] : trueSizes) truePairs += pairs(n);
  if (agree == 0) return 0;
  const double precision = agree / foundPairs, recall = agree / truePairs;
  std::printf("precision %.4f, recall %.4f\n", precision, recall);
  return 2 * precision * recall / (precision + recall);
}

double peakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

std::string processor() {
  std::FILE* info = std::fopen("/proc/cpuinfo", "r");
  char line[512];
  std::string name = "unknown";
  while (info && std::fgets(line, sizeof line, info)) {
    if (std::strncmp(line, "model name", 10) == 0) {
      name = std::strchr(line, ':') + 2;
      name.pop_back();
      break;
    }
  }
  if (info) std::fclose(info);
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  float spread = 0.8f;
  FaceGrouping::Settings settings;
  int rounds = 3;
  std::vector<std::size_t> sizes = {100000, 1000000};
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--spread") spread = std::strtof(argv[i + 1], nullptr);
    if (option == "--cosine") settings.cosine = std::strtof(argv[i + 1], nullptr);
    if (option == "--cell") settings.cellFaces = std::strtoull(argv[i + 1], nullptr, 10);
    if (option == "--probes") settings.probes = std::strtoull(argv[i + 1], nullptr, 10);
    if (option == "--rounds") rounds = std::atoi(argv[i + 1]);
    if (option == "--sizes") {
      sizes.clear();
      for (char* p = argv[i + 1]; *p;) {
        sizes.push_back(std::strtoull(p, &p, 10));
        if (*p == ',') ++p;
      }
    }
  }
  std::printf("processor: %s\nspread %.2f, cosine %.2f, %zu neighbours, %zu faces a cell\n",
              processor().c_str(), spread, settings.cosine, settings.neighbours,
              settings.cellFaces);
  for (const std::size_t count : sizes) {
    const Faces faces = synthetic(count, spread);
    std::vector<double> times;
    std::vector<std::int64_t> labels;
    for (int round = 0; round < rounds; ++round) {
      times.push_back(bench::millisecondsOf(
          [&] { labels = FaceGrouping::clusters(faces.vectors, dim, settings); }));
    }
    const double f1 = pairwiseF1(faces.people, labels);
    std::printf("waiting %zd, groups %lld\n", std::count(labels.begin(), labels.end(), -1),
                static_cast<long long>(*std::max_element(labels.begin(), labels.end()) + 1));
    std::printf("%zu faces of %lld people: %.2f s (median of %d), peak %.0f MB, F1 %.4f\n", count,
                static_cast<long long>(faces.people.back() + 1), bench::median(times) / 1000,
                rounds, peakMegabytes(), f1);
    std::printf("ratio grouping_pairwise_f1_%zu %.4f target >= 0.95\n", count, f1);
  }
  return 0;
}
