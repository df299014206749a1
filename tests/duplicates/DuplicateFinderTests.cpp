// SPDX-License-Identifier: GPL-3.0-or-later
#include "duplicates/DuplicateFinder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/Float16.h"
#include "index/Library.h"
#include "support/TempDirectory.h"

namespace quillmere {
namespace {

using Group = DuplicateFinder::Group;

// What one photo of a test library looks like.
struct Photo {
  std::string name;
  std::vector<float> vector;  // rounded to binary16 when stored; empty: indexed with no frames
  int width = 4000;
  int height = 3000;
  std::int64_t size = 2'000'000;
  double mtime = 1.7e9;
  MediaKind kind = MediaKind::photo;
  FileState state = FileState::indexed;
};

double dot(const std::vector<Half>& a, const std::vector<Half>& b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i)
    sum += static_cast<double>(floatFromHalf(a[i])) * floatFromHalf(b[i]);
  return sum;
}

std::vector<std::string> names(const Group& group) {
  std::vector<std::string> list;
  for (const MediaFile& file : group.files) list.push_back(file.name());
  return list;
}

class DuplicateFinderTest : public ::testing::Test {
 protected:
  void open(std::size_t dim) {
    library = std::make_unique<Library>(dir / "Library.sqlite", dim, "test/model@224");
  }

  // One folder holding the photos, stored in one scan and one batch of frames.
  Root addFolder(const std::string& folder, const std::vector<Photo>& photos) {
    const Root root =
        library->addRoot((dir / folder).string(), std::nullopt, std::nullopt, std::nullopt, false);
    std::vector<ScannedFile> entries;
    for (const Photo& photo : photos)
      entries.push_back(
          {.relPath = photo.name, .kind = photo.kind, .size = photo.size, .mtime = photo.mtime});
    library->applyScan(root.id, entries);
    std::map<std::string, MediaFile> byName;
    for (const MediaFile& file : library->files(root.id)) byName[file.relPath] = file;
    std::vector<Library::FrameBatchEntry> batch;
    for (const Photo& photo : photos) {
      Library::FrameBatchEntry entry{
          .file = byName.at(photo.name), .width = photo.width, .height = photo.height};
      if (!photo.vector.empty()) entry.frames.push_back({.vector = halvesFromFloats(photo.vector)});
      batch.push_back(std::move(entry));
    }
    library->saveFrames(batch);
    for (const Photo& photo : photos) {
      if (photo.state != FileState::indexed)
        library->setState(byName.at(photo.name).id, photo.state);
    }
    return root;
  }

  std::vector<Group> find(float threshold,
                          const std::optional<std::set<std::int64_t>>& roots = {}) {
    reports.clear();
    return DuplicateFinder::find(*library, threshold, roots,
                                 [this](double fraction) { reports.push_back(fraction); });
  }

  // Three unit vectors A, B, C with sim(A,B) = sim(B,C) = 0.95 and sim(A,C) = 0.90.
  std::vector<std::vector<float>> chain() const {
    const float by = std::sqrt(1 - 0.95f * 0.95f);
    const float cy = (0.95f - 0.95f * 0.90f) / by;
    const float cz = std::sqrt(1 - 0.90f * 0.90f - cy * cy);
    return {unit({1}), unit({0.95f, by}), unit({0.90f, cy, cz})};
  }

  // Small files standing for the photos, so that the folder can be reached.
  void putOnDisk(const std::string& folder, const std::vector<std::string>& names) {
    std::filesystem::create_directories(dir / folder);
    for (const std::string& name : names) std::ofstream(dir / folder / name) << name;
  }

  // A unit vector of the library's width with the given leading components.
  std::vector<float> unit(std::vector<float> leading) const {
    leading.resize(library->dim(), 0.0f);
    return leading;
  }

  test::TempDirectory dir;
  std::unique_ptr<Library> library;
  std::vector<double> reports;
};

using DuplicateGroups = DuplicateFinderTest;

TEST_F(DuplicateGroups, TwoCopiesAreOneExactGroupAtEitherThreshold) {
  open(20);
  const float c = 0.99f;
  addFolder("a",
            {{.name = "copy.jpg", .vector = unit({1})},
             {.name = "original.jpg", .vector = unit({c, std::sqrt(1 - c * c)}), .width = 4032},
             {.name = "other.jpg", .vector = unit({0, 0, 1})}});
  for (float threshold : {DuplicateFinder::near, DuplicateFinder::exact}) {
    const auto groups = find(threshold);
    ASSERT_EQ(groups.size(), 1u) << threshold;
    EXPECT_EQ(names(groups[0]), (std::vector<std::string>{"original.jpg", "copy.jpg"}));
    EXPECT_EQ(groups[0].similarity, floatFromHalf(halfFromFloat(c)));
    ASSERT_EQ(groups[0].similarities.size(), 2u);
    EXPECT_NEAR(groups[0].similarities[0], 1.0, 1e-3) << "binary16 rounding aside";
    EXPECT_NEAR(groups[0].similarities[1], groups[0].similarity, 1e-6);
    EXPECT_TRUE(groups[0].isExact());
    EXPECT_EQ(groups[0].id(), groups[0].files[0].id);
    EXPECT_EQ(reports, std::vector<double>{1.0});
  }
}

TEST_F(DuplicateGroups, AChainJoinsThroughItsMiddleAndCountsOnlyQualifyingPairs) {
  open(20);
  const auto vectors = chain();
  const std::vector<float>&a = vectors[0], &b = vectors[1], &c = vectors[2];
  addFolder("f", {{.name = "A.jpg", .vector = a, .size = 3},
                  {.name = "B.jpg", .vector = b, .size = 2},
                  {.name = "C.jpg", .vector = c, .size = 1}});
  const auto ha = halvesFromFloats(a), hb = halvesFromFloats(b), hc = halvesFromFloats(c);
  ASSERT_NEAR(dot(ha, hb), 0.95, 1e-3);
  ASSERT_NEAR(dot(hb, hc), 0.95, 1e-3);
  ASSERT_NEAR(dot(ha, hc), 0.90, 1e-3);

  auto groups = find(DuplicateFinder::near);
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(names(groups[0]), (std::vector<std::string>{"A.jpg", "B.jpg", "C.jpg"}));
  EXPECT_NEAR(groups[0].similarity, std::min(dot(ha, hb), dot(hb, hc)), 1e-6);
  // C is joined through B: its own similarity to the copy to keep is below the group's.
  ASSERT_EQ(groups[0].similarities.size(), 3u);
  EXPECT_NEAR(groups[0].similarities[1], dot(ha, hb), 1e-6);
  EXPECT_NEAR(groups[0].similarities[2], dot(ha, hc), 1e-6);
  EXPECT_FALSE(groups[0].isExact());
  EXPECT_TRUE(find(DuplicateFinder::exact).empty());
}

TEST_F(DuplicateGroups, ASimilarityOfExactlyTheThresholdCounts) {
  open(20);
  // 2017/2048 + 2294/2^24 is 0.985f exactly, and both are binary16 values.
  const float x = 2017.0f / 2048.0f, y = 2294.0f / 16777216.0f;
  ASSERT_EQ(x + y, DuplicateFinder::exact);
  ASSERT_EQ(floatFromHalf(halfFromFloat(y)), y);
  const float justBelow = y - 2.0f / 16777216.0f;
  addFolder("f", {{.name = "a.jpg", .vector = unit({1, 1})},
                  {.name = "b.jpg", .vector = unit({x, y})},
                  {.name = "c.jpg", .vector = unit({0, 0, 1, 1})},
                  {.name = "d.jpg", .vector = unit({0, 0, x, justBelow})}});
  const auto groups = find(DuplicateFinder::exact);
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(names(groups[0]), (std::vector<std::string>{"a.jpg", "b.jpg"}));
  EXPECT_EQ(groups[0].similarity, DuplicateFinder::exact);
  EXPECT_TRUE(groups[0].isExact());
}

TEST_F(DuplicateGroups, TheCopyToKeepComesFirst) {
  open(20);
  const auto v = unit({1});
  addFolder(
      "f",
      {{.name = "small-2MB.jpg", .vector = v, .size = 2'000'000, .mtime = 10},
       {.name = "small-3MB-new.jpg", .vector = v, .size = 3'000'000, .mtime = 30},
       {.name = "large-1MB.jpg", .vector = v, .width = 6000, .height = 4000, .size = 1'000'000},
       {.name = "small-3MB-old.jpg", .vector = v, .size = 3'000'000, .mtime = 20}});
  const auto groups = find(DuplicateFinder::exact);
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(names(groups[0]), (std::vector<std::string>{"large-1MB.jpg", "small-3MB-old.jpg",
                                                        "small-3MB-new.jpg", "small-2MB.jpg"}));
  EXPECT_EQ(groups[0].similarity, 1.0f);
}

TEST_F(DuplicateGroups, LargerGroupsFirstThenTheMoreSimilar) {
  open(20);
  // cos c to the axis, the rest along the axis + off: photos off different sides of one
  // axis are less alike than either is to the axis.
  const auto near = [&](std::size_t axis, float c, std::size_t off = 1) {
    std::vector<float> v(library->dim(), 0.0f);
    v[axis] = c;
    v[axis + off] = std::sqrt(1 - c * c);
    return v;
  };
  const auto pure = [&](std::size_t axis) { return near(axis, 1.0f); };
  addFolder("f", {{.name = "p1.jpg", .vector = pure(0)},
                  {.name = "p2.jpg", .vector = near(0, 0.99f)},
                  {.name = "q1.jpg", .vector = pure(3)},
                  {.name = "q2.jpg", .vector = near(3, 0.999f)},
                  {.name = "r1.jpg", .vector = pure(6)},
                  {.name = "r2.jpg", .vector = near(6, 0.96f)},
                  {.name = "r3.jpg", .vector = near(6, 0.95f, 2)},
                  {.name = "alone.jpg", .vector = pure(9)}});
  const auto groups = find(DuplicateFinder::near);
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups[0].files.size(), 3u);
  EXPECT_EQ(groups[0].files[0].name().front(), 'r');
  EXPECT_EQ(groups[1].files[0].name().front(), 'q');
  EXPECT_EQ(groups[2].files[0].name().front(), 'p');
  EXPECT_NEAR(groups[0].similarity, 0.95f, 1e-3f) << "r2 and r3 alone are below the threshold";
  EXPECT_GT(groups[1].similarity, groups[2].similarity);
  // At exact the three-photo group falls apart and the other two stay.
  const auto exact = find(DuplicateFinder::exact);
  ASSERT_EQ(exact.size(), 2u);
  EXPECT_EQ(exact[0].files[0].name().front(), 'q');
}

TEST_F(DuplicateGroups, FilesGoneFromDiskLeaveAndTheRestRegroup) {
  open(20);
  const auto vectors = chain();
  const std::vector<std::string> all = {"A.jpg", "B.jpg", "C.jpg"};
  addFolder("f", {{.name = all[0], .vector = vectors[0], .size = 3},
                  {.name = all[1], .vector = vectors[1], .size = 2},
                  {.name = all[2], .vector = vectors[2], .size = 1}});
  using Names = std::vector<std::vector<std::string>>;
  const std::vector<std::pair<std::string, Names>> cases = {
      {"", {all}},
      {"A.jpg", {{"B.jpg", "C.jpg"}}},
      {"B.jpg", {}},  // A and C were joined only through B
      {"C.jpg", {{"A.jpg", "B.jpg"}}},
  };
  for (const auto& [deleted, expected] : cases) {
    putOnDisk("f", all);
    if (!deleted.empty()) std::filesystem::remove(dir / "f" / deleted);
    Names got;
    for (const Group& group : find(DuplicateFinder::near)) got.push_back(names(group));
    EXPECT_EQ(got, expected) << deleted;
  }
  // With its folder unreachable nothing can be known gone: all stay.
  std::filesystem::remove_all(dir / "f");
  ASSERT_EQ(find(DuplicateFinder::near).size(), 1u);
  EXPECT_EQ(names(find(DuplicateFinder::near)[0]), all);
}

using DuplicateCandidates = DuplicateFinderTest;

TEST_F(DuplicateCandidates, OnlyIndexedPhotosWithVectorsOfTheChosenFolders) {
  open(20);
  const auto v = unit({1});
  const Root kept =
      addFolder("kept", {{.name = "a.jpg", .vector = v},
                         {.name = "b.jpg", .vector = v},
                         {.name = "clip.mp4", .vector = v, .kind = MediaKind::video},
                         {.name = "pending.jpg", .vector = v, .state = FileState::pending},
                         {.name = "failed.jpg", .vector = v, .state = FileState::failed},
                         {.name = "empty.jpg"}});
  const Root other = addFolder("other", {{.name = "c.jpg", .vector = v}});
  // The pending and failed photos keep their stored rows: state alone rules them out.
  for (const MediaFile& file : library->files(kept.id)) {
    if (file.relPath != "empty.jpg") {
      EXPECT_FALSE(library->vectors().vectors(file.id).empty());
    }
  }

  auto groups = find(DuplicateFinder::exact, std::set<std::int64_t>{kept.id});
  ASSERT_EQ(groups.size(), 1u);
  auto got = names(groups[0]);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"a.jpg", "b.jpg"}));

  groups = find(DuplicateFinder::exact);
  ASSERT_EQ(groups.size(), 1u);
  got = names(groups[0]);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg"}));

  EXPECT_TRUE(find(DuplicateFinder::exact, std::set<std::int64_t>{other.id}).empty());
  EXPECT_TRUE(reports.empty()) << "one candidate: nothing to compare, nothing reported";
  EXPECT_TRUE(find(DuplicateFinder::exact, std::set<std::int64_t>{}).empty());
}

TEST_F(DuplicateCandidates, AnEmptyLibraryHasNoGroupsAndReportsNothing) {
  open(20);
  EXPECT_TRUE(find(DuplicateFinder::near).empty());
  EXPECT_TRUE(reports.empty());
  EXPECT_TRUE(DuplicateFinder::find(*library, DuplicateFinder::near).empty());
}

// Random unit vectors, with some photos made into near copies of others (sometimes in
// chains), spread so that pairs meet in every kind of tile.
class ManyPhotos : public DuplicateFinderTest {
 protected:
  static constexpr std::size_t dim = 64;

  std::vector<Photo> randomPhotos(std::size_t n, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::normal_distribution<float> normal;
    std::vector<std::vector<float>> vectors(n, std::vector<float>(dim));
    for (auto& v : vectors) {
      for (float& x : v) x = normal(random);
      normalise(v);
    }
    std::uniform_int_distribution<std::size_t> pick(0, n - 1);
    // Amounts of noise that keep copies well away from both thresholds.
    const float amounts[] = {0.06f, 0.1f, 0.28f, 0.31f, 0.55f};
    std::uniform_int_distribution<int> noise(0, 4);
    for (int k = 0; k < static_cast<int>(n / 20); ++k) {
      const std::size_t from = pick(random), to = pick(random);
      if (from == to) continue;
      const float amount = amounts[noise(random)];
      for (std::size_t c = 0; c < dim; ++c)
        vectors[to][c] = vectors[from][c] + amount * normal(random) / 8;
      normalise(vectors[to]);
    }
    std::vector<Photo> photos;
    for (std::size_t i = 0; i < n; ++i)
      photos.push_back({.name = "p" + std::to_string(i) + ".jpg",
                        .vector = vectors[i],
                        .size = static_cast<std::int64_t>(1000 + i)});
    return photos;
  }

  static void normalise(std::vector<float>& v) {
    double norm = 0;
    for (float x : v) norm += static_cast<double>(x) * x;
    for (float& x : v) x = static_cast<float>(x / std::sqrt(norm));
  }

  // Every pair compared directly in double precision, joined naively.
  std::set<std::set<std::int64_t>> reference(float threshold,
                                             std::map<std::set<std::int64_t>, double>& lowest) {
    std::vector<std::pair<std::int64_t, std::vector<Half>>> rows;
    for (const MediaFile& file : library->allFiles())
      rows.emplace_back(file.id, library->vectors().vectors(file.id).at(0).second);
    std::map<std::int64_t, std::int64_t> label;
    for (const auto& [id, v] : rows) label[id] = id;
    std::vector<std::tuple<std::int64_t, std::int64_t, double>> pairs;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      for (std::size_t j = i + 1; j < rows.size(); ++j) {
        const double s = dot(rows[i].second, rows[j].second);
        EXPECT_GT(std::abs(s - threshold), 1e-4) << "too close to call";
        if (s >= threshold) pairs.emplace_back(rows[i].first, rows[j].first, s);
      }
    }
    for (bool changed = true; changed;) {
      changed = false;
      for (const auto& [a, b, s] : pairs) {
        const std::int64_t l = std::min(label[a], label[b]);
        if (label[a] != l || label[b] != l) {
          for (auto& [id, value] : label)
            if (value == label[a] || value == label[b]) value = l;
          changed = true;
        }
      }
    }
    std::map<std::int64_t, std::set<std::int64_t>> byLabel;
    for (const auto& [id, l] : label) byLabel[l].insert(id);
    std::set<std::set<std::int64_t>> groups;
    for (const auto& [l, members] : byLabel) {
      if (members.size() < 2) continue;
      groups.insert(members);
      double low = 1;
      for (const auto& [a, b, s] : pairs)
        if (members.contains(a)) low = std::min(low, s);
      lowest[members] = low;
    }
    return groups;
  }
};

TEST_F(ManyPhotos, ProgressOncePerTileOfTheUpperTriangle) {
  open(dim);
  addFolder("f", randomPhotos(2500, 7));
  find(DuplicateFinder::near);
  EXPECT_EQ(reports, (std::vector<double>{1.0 / 6, 2.0 / 6, 3.0 / 6, 4.0 / 6, 5.0 / 6, 1.0}));
}

TEST_F(ManyPhotos, GroupsAgreeWithComparingEveryPairDirectly) {
  open(dim);
  addFolder("f", randomPhotos(1500, 11));
  for (float threshold : {DuplicateFinder::near, DuplicateFinder::exact}) {
    std::map<std::set<std::int64_t>, double> lowest;
    const auto expected = reference(threshold, lowest);
    ASSERT_GT(expected.size(), 5u) << "the test must plant groups";
    const auto groups = find(threshold);
    std::set<std::set<std::int64_t>> got;
    for (const Group& group : groups) {
      std::set<std::int64_t> ids;
      for (const MediaFile& file : group.files) ids.insert(file.id);
      got.insert(ids);
      if (lowest.contains(ids)) {
        EXPECT_NEAR(group.similarity, lowest[ids], 1e-5);
      }
      const auto keeper = library->vectors().vectors(group.files[0].id).at(0).second;
      ASSERT_EQ(group.similarities.size(), group.files.size());
      for (std::size_t i = 0; i < group.files.size(); ++i) {
        const auto own = library->vectors().vectors(group.files[i].id).at(0).second;
        EXPECT_NEAR(group.similarities[i], dot(own, keeper), 1e-5);
      }
    }
    EXPECT_EQ(got, expected) << threshold;
    EXPECT_EQ(reports.size(), 3u);
    for (std::size_t i = 1; i < groups.size(); ++i)
      EXPECT_GE(groups[i - 1].files.size(), groups[i].files.size());
  }
}

}  // namespace
}  // namespace quillmere
