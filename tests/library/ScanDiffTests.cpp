// SPDX-License-Identifier: GPL-3.0-or-later
// The scan diff on its own: plain lists in, plain lists out, no database.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "index/ScanDiff.h"

namespace quillmere {
namespace {

MediaFile known(std::int64_t id, const std::string& relPath, std::int64_t size, double mtime,
                MediaKind kind = MediaKind::photo) {
  return {.id = id,
          .rootID = 1,
          .relPath = relPath,
          .kind = kind,
          .size = size,
          .mtime = mtime,
          .duration = 8,
          .width = 64,
          .height = 48,
          .state = FileState::indexed};
}

ScannedFile listed(const std::string& relPath, std::int64_t size, double mtime,
                   MediaKind kind = MediaKind::photo) {
  return {.relPath = relPath, .kind = kind, .size = size, .mtime = mtime};
}

// The diff told as text, so that a case reads as one line per list: "path", "id:path" for a
// changed file with its new size and mtime, "id>path" for a move, "id" for a removal.
struct Told {
  std::vector<std::string> added;
  std::vector<std::string> changed;
  std::vector<std::string> moved;
  std::vector<std::string> removed;
  bool operator==(const Told&) const = default;
};

void PrintTo(const Told& told, std::ostream* out) {
  for (const auto& [name, list] : {std::pair{"added", &told.added},
                                   {"changed", &told.changed},
                                   {"moved", &told.moved},
                                   {"removed", &told.removed}}) {
    *out << name << " {";
    for (const std::string& item : *list) *out << ' ' << item;
    *out << " } ";
  }
}

std::string number(double value) {
  std::string text = std::to_string(value);
  text.erase(text.find_last_not_of('0') + 1);
  if (text.back() == '.') text.pop_back();
  return text;
}

Told tell(const ScanDiff& diff) {
  Told told;
  for (const ScannedFile& entry : diff.added) told.added.push_back(entry.relPath);
  for (const MediaFile& file : diff.changed) {
    told.changed.push_back(std::to_string(file.id) + ":" + file.relPath + "@" +
                           std::to_string(file.size) + "/" + number(file.mtime));
  }
  for (const ScanDiff::Move& move : diff.moved) {
    told.moved.push_back(std::to_string(move.file.id) + ">" + move.relPath);
  }
  for (const MediaFile& file : diff.removed) told.removed.push_back(std::to_string(file.id));
  return told;
}

struct DiffCase {
  const char* name;
  std::vector<MediaFile> cached;
  std::vector<ScannedFile> listing;
  Told expected;
  std::vector<std::string> unreadable = {};
};

void PrintTo(const DiffCase& c, std::ostream* out) {
  *out << c.name;
}

class ScanDiffCases : public ::testing::TestWithParam<DiffCase> {};

TEST_P(ScanDiffCases, SortsTheListingAgainstTheCache) {
  const DiffCase& c = GetParam();
  EXPECT_EQ(tell(ScanDiff::between(c.cached, c.listing, c.unreadable)), c.expected);
}

const DiffCase diffCases[] = {
    {"NothingAtAll", {}, {}, {}},
    {"NewcomersAreAddedInListingOrder",
     {},
     {listed("b/z.jpg", 5, 10), listed("a.mp4", 9, 20, MediaKind::video)},
     {.added = {"b/z.jpg", "a.mp4"}}},
    {"ARepeatedNewPathIsAddedOnce",
     {},
     {listed("x.jpg", 5, 10), listed("x.jpg", 6, 11)},
     {.added = {"x.jpg"}}},
    {"TheFirstListingOfAKnownPathDecides",
     {known(1, "x.jpg", 5, 10)},
     {listed("x.jpg", 5, 10), listed("x.jpg", 6, 99)},
     {}},
    {"HalfASecondIsTheSameFile",
     {known(1, "a.jpg", 100, 1000), known(2, "b.jpg", 100, 1000), known(3, "c.jpg", 100, 1000),
      known(4, "d.jpg", 100, 1000), known(5, "e.jpg", 100, 1000)},
     {listed("a.jpg", 100, 1000.4), listed("b.jpg", 100, 999.5), listed("c.jpg", 100, 1000.6),
      listed("d.jpg", 101, 1000), listed("e.jpg", 100, 1000, MediaKind::video)},
     {.changed = {"3:c.jpg@100/1000.6", "4:d.jpg@101/1000"}}},
    {"AMoveKeepsNameSizeAndWholeSecond",
     {known(1, "a/x.jpg", 100, 1000.2)},
     {listed("b/x.jpg", 100, 1000.9)},
     {.moved = {"1>b/x.jpg"}}},
    {"ARenameIsARemovalAndAnAddition",
     {known(1, "a/x.jpg", 100, 1000)},
     {listed("a/y.jpg", 100, 1000)},
     {.added = {"a/y.jpg"}, .removed = {"1"}}},
    {"AnotherWholeSecondOrSizeIsNoMove",
     {known(1, "a/x.jpg", 100, 1000.9), known(2, "a/y.jpg", 100, 1000)},
     {listed("b/x.jpg", 100, 1001.1), listed("b/y.jpg", 101, 1000)},
     {.added = {"b/x.jpg", "b/y.jpg"}, .removed = {"1", "2"}}},
    {"TimesJustBelowZeroTruncateToZero",
     {known(1, "a/x.jpg", 100, -0.3)},
     {listed("b/x.jpg", 100, 0.4)},
     {.moved = {"1>b/x.jpg"}}},
    {"OfTwoVanishedFilesWithOneKeyTheLaterMoves",
     {known(1, "a/x.jpg", 100, 1000), known(2, "b/x.jpg", 100, 1000)},
     {listed("c/x.jpg", 100, 1000)},
     {.moved = {"2>c/x.jpg"}, .removed = {"1"}}},
    {"TheFirstNewcomerClaimsAVanishedFile",
     {known(1, "a/x.jpg", 100, 1000)},
     {listed("b/x.jpg", 100, 1000), listed("c/x.jpg", 100, 1000)},
     {.added = {"c/x.jpg"}, .moved = {"1>b/x.jpg"}}},
    {"AnEmptyListingRemovesEverythingInCacheOrder",
     {known(7, "z.jpg", 1, 1), known(3, "a.jpg", 2, 2), known(5, "m.mp4", 3, 3, MediaKind::video)},
     {},
     {.removed = {"7", "3", "5"}}},
    {"AllFourAtOnce",
     {known(1, "keep.jpg", 10, 10), known(2, "grow.jpg", 10, 10), known(3, "old/move.jpg", 10, 10),
      known(4, "gone.jpg", 10, 10)},
     {listed("new.jpg", 10, 10), listed("new/move.jpg", 10, 10.5), listed("grow.jpg", 11, 10),
      listed("keep.jpg", 10, 10)},
     {.added = {"new.jpg"},
      .changed = {"2:grow.jpg@11/10"},
      .moved = {"3>new/move.jpg"},
      .removed = {"4"}}},
    {"WhatTheScanCouldNotReadStaysAsItIs",
     {known(1, "locked/a.jpg", 10, 10), known(2, "locked/deep/b.jpg", 10, 10),
      known(3, "lockedness.jpg", 10, 10), known(4, "torn.jpg", 10, 10),
      known(5, "open/c.jpg", 10, 10)},
     {listed("locked/a.jpg", 99, 99), listed("locked/new.jpg", 10, 10)},
     {.removed = {"3", "5"}},
     {"locked", "torn.jpg"}},
    {"AnUnreadableFolderKeepsEverything",
     {known(1, "a.jpg", 10, 10), known(2, "sub/b.jpg", 10, 10)},
     {},
     {},
     {""}},
};

INSTANTIATE_TEST_SUITE_P(Table, ScanDiffCases, ::testing::ValuesIn(diffCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ScanDiffTest, AChangedFileIsPendingAgainAndKeepsItsMeasurements) {
  MediaFile failed = known(4, "v.mp4", 100, 50, MediaKind::video);
  failed.state = FileState::failed;
  failed.error = "unreadable";
  const ScanDiff diff = ScanDiff::between({failed}, {listed("v.mp4", 120, 51, MediaKind::photo)});
  MediaFile expected = failed;
  expected.size = 120;
  expected.mtime = 51;
  expected.state = FileState::pending;
  expected.error.reset();
  EXPECT_EQ(diff.changed, std::vector<MediaFile>{expected});  // the kind stays a video
}

TEST(ScanDiffTest, AMovedOrRemovedFileIsTheCachedRecord) {
  MediaFile moving = known(1, "a/x.jpg", 100, 1000.2);
  moving.state = FileState::failed;
  moving.error = "unreadable";
  const MediaFile leaving = known(2, "a/y.jpg", 7, 3);
  const ScanDiff diff = ScanDiff::between({moving, leaving}, {listed("b/x.jpg", 100, 1000.7)});
  EXPECT_EQ(diff.moved, (std::vector<ScanDiff::Move>{{.file = moving, .relPath = "b/x.jpg"}}));
  EXPECT_EQ(diff.removed, std::vector<MediaFile>{leaving});
}

TEST(ScanDiffTest, MoveKeysTruncateTowardZero) {
  EXPECT_EQ(ScanDiff::moveKey("a/b/x.jpg", 100, 1000.7), "x.jpg|100|1000");
  EXPECT_EQ(ScanDiff::moveKey("x.jpg", 0, -1.9), "x.jpg|0|-1");
  EXPECT_EQ(ScanDiff::moveKey("x.jpg", 0, -0.3), "x.jpg|0|0");
}

}  // namespace
}  // namespace quillmere
