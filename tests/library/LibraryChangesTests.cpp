// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>

#include "LibraryFixture.h"
#include "support/LibraryTestAccess.h"

namespace quillmere {
namespace {

using test::LibraryTest;
using test::photo;
using test::testFrame;
using test::testVector;
using test::video;

using Changes = Library::ScanChanges;

class ScanTest : public LibraryTest {
 protected:
  void SetUp() override {
    library = open();
    root = library->addRoot("/media", std::nullopt, std::nullopt, std::nullopt, false);
  }
  // Gives the file two frames and marks it indexed.
  MediaFile index(const std::string& relPath, int seed) {
    MediaFile file = fileAt(*library, root.id, relPath);
    library->saveFrames(file, {testFrame(dim, seed, 0), testFrame(dim, seed + 1, 4)}, 8, 64, 48);
    return cached(*library, file.id);
  }

  std::unique_ptr<Library> library;
  Root root;
};

TEST_F(ScanTest, NewFilesAreAddedPendingWithTheirDatabaseIds) {
  Changes changes =
      library->applyScan(root.id, {photo("a/x.jpg", 100, 1000.7), video("b/clip.mp4", 5000, 2000)});
  EXPECT_EQ(changes, (Changes{.added = 2}));
  std::vector<MediaFile> files = test::memorySnapshot(*library).files;
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0], (MediaFile{.id = files[0].id,
                                 .rootID = root.id,
                                 .relPath = "a/x.jpg",
                                 .kind = MediaKind::photo,
                                 .size = 100,
                                 .mtime = 1000.7}));
  EXPECT_EQ(files[1].kind, MediaKind::video);
  EXPECT_EQ(files[1].state, FileState::pending);
  // The cache is what reopening reads from the database.
  library.reset();
  library = open();
  EXPECT_EQ(test::memorySnapshot(*library).files, files);
}

TEST_F(ScanTest, ModificationTimesWithinHalfASecondAreTheSameFile) {
  std::vector<ScannedFile> listing;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"}) {
    listing.push_back(photo(name, 100, 1000));
  }
  library->applyScan(root.id, listing);
  std::vector<MediaFile> indexed;
  for (const ScannedFile& entry : listing) indexed.push_back(index(entry.relPath, 1));

  // a: 0.4 s later, b: exactly 0.5 s earlier, c: 0.6 s later, d: one byte more, e: a video.
  Changes changes = library->applyScan(
      root.id, {photo("a.jpg", 100, 1000.4), photo("b.jpg", 100, 999.5),
                photo("c.jpg", 100, 1000.6), photo("d.jpg", 101, 1000), video("e.jpg", 100, 1000)});
  EXPECT_EQ(changes, (Changes{.changed = 2}));
  for (int unchanged : {0, 1, 4})
    EXPECT_EQ(library->file(indexed[unchanged].id), indexed[unchanged]);
  for (const MediaFile& before : {indexed[2], indexed[3]}) {
    MediaFile after = cached(*library, before.id);
    EXPECT_EQ(after.state, FileState::pending);
    EXPECT_EQ(after.duration, 8);  // measurements stay until re-indexed
    EXPECT_EQ(after.width, 64);
    EXPECT_TRUE(library->vectors().vectors(before.id).empty());
    EXPECT_TRUE(library->frameTimes(before.id).empty());
  }
  EXPECT_EQ(cached(*library, indexed[2].id).mtime, 1000.6);
  EXPECT_EQ(cached(*library, indexed[3].id).size, 101);
  EXPECT_EQ(library->vectors().count(), 6u);
  EXPECT_EQ(countRows(*library, "frames"), 6);
  library.reset();
  library = open();
  EXPECT_EQ(cached(*library, indexed[2].id).mtime, 1000.6);
  EXPECT_EQ(cached(*library, indexed[3].id).state, FileState::pending);
  EXPECT_EQ(cached(*library, indexed[4].id).state, FileState::indexed);
}

TEST_F(ScanTest, MovedFilesKeepTheirIdFramesAndState) {
  library->applyScan(
      root.id, {photo("a/x.jpg", 100, 1000.2), photo("a/y.jpg", 7, 50), photo("a/z.jpg", 9, 60)});
  MediaFile x = index("a/x.jpg", 3);
  MediaFile z = fileAt(*library, root.id, "a/z.jpg");
  library->setState(z.id, FileState::failed, "unreadable");
  const auto xRows = library->vectors().vectors(x.id);

  // x moves with the same whole second; z moves too; y is renamed, which is never a move.
  Changes changes = library->applyScan(
      root.id,
      {photo("b/x.jpg", 100, 1000.9), photo("a/renamed.jpg", 7, 50), photo("c/z.jpg", 9, 60)});
  EXPECT_EQ(changes, (Changes{.added = 1, .removed = 1, .moved = 2}));
  MediaFile movedX = cached(*library, x.id);
  EXPECT_EQ(movedX.relPath, "b/x.jpg");
  EXPECT_EQ(movedX.state, FileState::indexed);
  EXPECT_EQ(movedX.mtime, 1000.2);  // only the path is updated
  EXPECT_EQ(library->vectors().vectors(x.id), xRows);
  EXPECT_EQ(library->frameTimes(x.id), (std::vector<double>{0, 4}));
  MediaFile movedZ = cached(*library, z.id);
  EXPECT_EQ(movedZ.relPath, "c/z.jpg");
  EXPECT_EQ(movedZ.state, FileState::failed);
  EXPECT_EQ(movedZ.error, "unreadable");
  EXPECT_EQ(library->files(root.id).size(), 3u);
  EXPECT_NE(fileAt(*library, root.id, "a/renamed.jpg").id, 0);

  library.reset();
  library = open();
  EXPECT_EQ(cached(*library, x.id).relPath, "b/x.jpg");
  EXPECT_EQ(library->vectors().vectors(x.id), xRows);
}

TEST_F(ScanTest, ADifferentWholeSecondOrSizeIsNoMove) {
  library->applyScan(root.id, {photo("a/x.jpg", 100, 1000.9), photo("a/y.jpg", 100, 5)});
  MediaFile x = index("a/x.jpg", 1);
  MediaFile y = index("a/y.jpg", 5);
  Changes changes =
      library->applyScan(root.id, {photo("b/x.jpg", 100, 1001.0), photo("b/y.jpg", 101, 5)});
  EXPECT_EQ(changes, (Changes{.added = 2, .removed = 2}));
  EXPECT_EQ(library->file(x.id), std::nullopt);
  EXPECT_EQ(library->file(y.id), std::nullopt);
  EXPECT_EQ(library->vectors().count(), 0u);
  EXPECT_EQ(countRows(*library, "frames"), 0);
}

TEST_F(ScanTest, TwoVanishedFilesWithOneKeyGiveOneMoveAndTheLaterOneMoves) {
  library->applyScan(root.id, {photo("a/x.jpg", 100, 1000), photo("b/x.jpg", 100, 1000.3)});
  MediaFile first = index("a/x.jpg", 1);
  MediaFile second = index("b/x.jpg", 7);
  ASSERT_LT(first.id, second.id);
  Changes changes = library->applyScan(root.id, {photo("c/x.jpg", 100, 1000)});
  EXPECT_EQ(changes, (Changes{.removed = 1, .moved = 1}));
  EXPECT_EQ(library->file(first.id), std::nullopt);
  EXPECT_EQ(cached(*library, second.id).relPath, "c/x.jpg");
  EXPECT_EQ(library->vectors().count(), 2u);
  EXPECT_TRUE(library->vectors().vectors(first.id).empty());

  // Two newcomers for one vanished file: the first in listing order claims it.
  changes = library->applyScan(root.id, {photo("e/x.jpg", 100, 1000), photo("d/x.jpg", 100, 1000)});
  EXPECT_EQ(changes, (Changes{.added = 1, .moved = 1}));
  EXPECT_EQ(cached(*library, second.id).relPath, "e/x.jpg");
}

TEST_F(ScanTest, AnEmptyListingRemovesEveryFileOfTheRootOnly) {
  library->applyScan(root.id, {photo("a.jpg", 1, 1), photo("b.jpg", 2, 2), video("c.mp4", 3, 3)});
  index("a.jpg", 1);
  Root other = addRootWithFiles(*library, "/other", {photo("a.jpg", 1, 1)});
  EXPECT_EQ(library->applyScan(root.id, {}), (Changes{.removed = 3}));
  EXPECT_TRUE(library->files(root.id).empty());
  EXPECT_EQ(library->files(other.id).size(), 1u);
  EXPECT_EQ(countRows(*library, "files"), 1);
  EXPECT_EQ(countRows(*library, "frames"), 0);
  EXPECT_EQ(library->vectors().count(), 0u);
  // A repeated listing is a no-op.
  EXPECT_EQ(library->applyScan(root.id, {}), Changes{});
}

TEST_F(ScanTest, ARepeatedPathInOneListingIsTakenOnce) {
  Changes changes = library->applyScan(root.id, {photo("a.jpg", 1, 1), photo("a.jpg", 2, 2)});
  EXPECT_EQ(changes, (Changes{.added = 1}));
  EXPECT_EQ(fileAt(*library, root.id, "a.jpg").size, 1);
}

TEST_F(ScanTest, AFailingScanTransactionChangesNothing) {
  library->applyScan(root.id, {photo("keep.jpg", 1, 1), photo("change.jpg", 2, 2),
                               photo("old/move.jpg", 3, 3), photo("remove.jpg", 4, 4)});
  index("keep.jpg", 1);
  index("change.jpg", 3);
  index("old/move.jpg", 5);
  MediaFile removed = index("remove.jpg", 7);
  const test::MemorySnapshot before = test::memorySnapshot(*library);
  const std::vector<std::string> rows = test::databaseRows(LibraryTestAccess::db(*library));
  const std::vector<ScannedFile> listing = {photo("keep.jpg", 1, 1), photo("change.jpg", 20, 2),
                                            photo("new/move.jpg", 3, 3), photo("added.jpg", 5, 5)};

  // The third step (moves) is refused, after inserts, frame deletions and updates ran.
  LibraryTestAccess::db(*library).exec(
      "CREATE TRIGGER no_moves BEFORE UPDATE OF rel_path ON files "
      "BEGIN SELECT RAISE(ABORT, 'moves refused'); END;");
  try {
    library->applyScan(root.id, listing);
    FAIL() << "the scan was applied";
  } catch (const SQLite::Failure& failure) {
    EXPECT_EQ(failure.code(), 19);  // SQLITE_CONSTRAINT, raised by the trigger
    EXPECT_EQ(failure.message(), "moves refused");
  }
  EXPECT_EQ(test::memorySnapshot(*library, {removed.id}), before);
  EXPECT_EQ(test::databaseRows(LibraryTestAccess::db(*library)), rows);

  // The same listing is safe to apply again once the database accepts it.
  LibraryTestAccess::db(*library).exec("DROP TRIGGER no_moves");
  EXPECT_EQ(library->applyScan(root.id, listing),
            (Changes{.added = 1, .changed = 1, .removed = 1, .moved = 1}));
  EXPECT_EQ(library->vectors().count(), 4u);  // keep and move keep their two frames each
}

class FramesTest : public ScanTest {
 protected:
  void SetUp() override {
    ScanTest::SetUp();
    library->applyScan(root.id, {photo("p.jpg", 10, 100), video("v.mp4", 1000, 200)});
    p = fileAt(*library, root.id, "p.jpg");
    v = fileAt(*library, root.id, "v.mp4");
  }
  MediaFile p, v;
};

TEST_F(FramesTest, SavingFramesStoresVectorsThumbnailsAndMeasurements) {
  library->saveFrames({{.file = p,
                        .frames = {testFrame(dim, 1, 0, Bytes{0xff, 0xd8, 1})},
                        .duration = 0,
                        .width = 4000,
                        .height = 3000},
                       {.file = v,
                        .frames = {testFrame(dim, 2, 6), testFrame(dim, 3, 2, Bytes{})},
                        .duration = 61.5,
                        .width = 1920,
                        .height = 1080}});
  MediaFile savedV = cached(*library, v.id);
  EXPECT_EQ(savedV.state, FileState::indexed);
  EXPECT_EQ(savedV.duration, 61.5);
  EXPECT_EQ(savedV.width, 1920);
  EXPECT_EQ(savedV.height, 1080);
  EXPECT_EQ(cached(*library, p.id).width, 4000);
  EXPECT_EQ(library->frameTimes(v.id), (std::vector<double>{2, 6}));

  auto rows = library->vectors().vectors(v.id);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].first.time, 6);  // insertion order
  EXPECT_EQ(rows[0].second, testVector(dim, 2));
  EXPECT_EQ(rows[1].second, testVector(dim, 3));
  const std::int64_t photoFrame = library->vectors().vectors(p.id).at(0).first.frameID;
  EXPECT_EQ(library->thumbnail(photoFrame), (Bytes{0xff, 0xd8, 1}));
  EXPECT_EQ(library->thumbnail(rows[0].first.frameID), std::nullopt);  // stored without one
  EXPECT_EQ(library->thumbnail(rows[1].first.frameID), std::nullopt);  // zero-length
  EXPECT_EQ(library->thumbnail(999999), std::nullopt);

  // Stored as raw little-endian binary16, 2 bytes a component.
  Bytes stored;
  LibraryTestAccess::db(*library).query("SELECT vec FROM frames WHERE id=?", {photoFrame},
                                        [&](const SQLite::Row& row) { stored = *row.blob(0); });
  ASSERT_EQ(stored.size(), 2 * dim);
  const Half first = testVector(dim, 1)[0];
  EXPECT_EQ(stored[0], first & 0xff);
  EXPECT_EQ(stored[1], first >> 8);

  Library::Totals totals = library->totals();
  EXPECT_EQ(totals.frames, 3);
  EXPECT_EQ(totals.indexed, 2);
  EXPECT_EQ(totals.indexedVideoSeconds, 61.5);
}

TEST_F(FramesTest, SavingAgainReplacesAFilesFrames) {
  library->saveFrames(v, {testFrame(dim, 1, 0), testFrame(dim, 2, 2), testFrame(dim, 3, 4)}, 6, 2,
                      2);
  const std::int64_t oldFirst = library->vectors().vectors(v.id).at(0).first.frameID;
  library->setState(v.id, FileState::failed, "was failing");
  library->saveFrames(v, {testFrame(dim, 4, 1.5), testFrame(dim, 5, 3.5)}, 7, 3, 3);
  EXPECT_EQ(library->frameTimes(v.id), (std::vector<double>{1.5, 3.5}));
  auto rows = library->vectors().vectors(v.id);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_GT(rows[0].first.frameID, oldFirst);
  EXPECT_EQ(rows[1].second, testVector(dim, 5));
  EXPECT_EQ(library->vectors().count(), 2u);
  EXPECT_EQ(countRows(*library, "frames"), 2);
  EXPECT_EQ(library->thumbnail(oldFirst), std::nullopt);
  MediaFile saved = cached(*library, v.id);
  EXPECT_EQ(saved.state, FileState::indexed);
  EXPECT_EQ(saved.error, std::nullopt);
  EXPECT_EQ(saved.duration, 7);
}

TEST_F(FramesTest, SavingForAFileDeletedMeanwhileChangesNothing) {
  library->saveFrames(p, {testFrame(dim, 1, 0, Bytes{1})}, 0, 1, 1);
  Root other = addRootWithFiles(*library, "/other", {photo("gone.jpg", 5, 5)});
  const MediaFile gone = library->files(other.id).at(0);
  library->saveFrames(gone, {testFrame(dim, 9, 0)}, 0, 1, 1);
  library->removeRoot(other.id);  // the indexer still holds its copy of the file
  const test::MemorySnapshot before = test::memorySnapshot(*library, {gone.id});
  const std::vector<std::string> rows = test::databaseRows(LibraryTestAccess::db(*library));

  // p comes first in the batch: its frames are deleted and re-inserted before the failure.
  try {
    library->saveFrames({{.file = p, .frames = {testFrame(dim, 2, 0)}, .duration = 0},
                         {.file = gone, .frames = {testFrame(dim, 3, 0)}, .duration = 0}});
    FAIL() << "saved frames for a deleted file";
  } catch (const SQLite::Failure& failure) {
    EXPECT_EQ(failure.code() & 0xff, 19);  // SQLITE_CONSTRAINT: the foreign key
  }
  EXPECT_EQ(test::memorySnapshot(*library, {gone.id}), before);
  EXPECT_EQ(test::databaseRows(LibraryTestAccess::db(*library)), rows);
  EXPECT_EQ(library->frameTimes(p.id), (std::vector<double>{0}));
}

// The indexer read p before a scan found it edited: its frames show the old picture.
TEST_F(FramesTest, FramesOfContentAScanFoundChangedAreRefused) {
  const MediaFile read = p;
  library->applyScan(root.id, {photo("p.jpg", 11, 100), video("v.mp4", 1000, 200)});
  const std::vector<std::string> rows = test::databaseRows(LibraryTestAccess::db(*library));
  EXPECT_THROW(library->saveFrames({{.file = v, .frames = {testFrame(dim, 1, 0)}, .duration = 1},
                                    {.file = read, .frames = {testFrame(dim, 2, 0)}}}),
               Library::Stale);
  EXPECT_EQ(test::databaseRows(LibraryTestAccess::db(*library)), rows);
  EXPECT_EQ(cached(*library, p.id).state, FileState::pending);
  EXPECT_EQ(cached(*library, v.id).state, FileState::pending);
  EXPECT_EQ(library->vectors().count(), 0u);

  library->saveFrames(cached(*library, p.id), {testFrame(dim, 3, 0)}, 0, 1, 1);
  EXPECT_EQ(cached(*library, p.id).state, FileState::indexed);
}

// A long video is stored as it is sampled: its chunks add up, searchable while it stays
// pending, until the last marks it indexed. Only content still being indexed takes one.
TEST_F(FramesTest, ChunksAddToAPendingVideoUntilTheLastMarksItIndexed) {
  library->saveChunk({.file = v, .frames = {testFrame(dim, 1, 0), testFrame(dim, 2, 2)}},
                     {.restart = true});
  library->saveChunk({.file = v, .frames = {testFrame(dim, 3, 4)}}, {});
  EXPECT_EQ(cached(*library, v.id).state, FileState::pending);
  EXPECT_EQ(library->vectors().vectors(v.id).size(), 3u);
  EXPECT_EQ(library->lastFrameTime(v.id), 4);
  library->saveChunk({.file = v, .frames = {testFrame(dim, 4, 0.5)}}, {.restart = true});
  library->saveChunk({.file = v, .frames = {testFrame(dim, 5, 2.5)}, .duration = 3, .width = 2},
                     {.complete = true});
  EXPECT_EQ(library->frameTimes(v.id), (std::vector<double>{0.5, 2.5}));
  EXPECT_EQ(library->vectors().vectors(v.id).size(), 2u);
  EXPECT_EQ(cached(*library, v.id).state, FileState::indexed);
  EXPECT_EQ(cached(*library, v.id).width, 2);

  const std::vector<std::string> rows = test::databaseRows(LibraryTestAccess::db(*library));
  EXPECT_THROW(
      library->saveChunk({.file = cached(*library, v.id), .frames = {testFrame(dim, 6, 5)}},
                         {.complete = true}),
      Library::Stale);
  EXPECT_EQ(test::databaseRows(LibraryTestAccess::db(*library)), rows);
  library->applyScan(root.id, {photo("p.jpg", 10, 100), video("v.mp4", 1001, 200)});
  EXPECT_THROW(library->saveChunk({.file = v, .frames = {testFrame(dim, 7, 0)}}, {.restart = true}),
               Library::Stale);
  EXPECT_EQ(library->lastFrameTime(v.id), std::nullopt);
}

TEST_F(FramesTest, AVectorOfAnotherWidthIsRefusedBeforeAnythingIsWritten) {
  const std::vector<std::string> rows = test::databaseRows(LibraryTestAccess::db(*library));
  const test::MemorySnapshot before = test::memorySnapshot(*library);
  FrameRecord wrong = testFrame(dim + 1, 1, 0);
  EXPECT_THROW(library->saveFrames(
                   {{.file = p, .frames = {testFrame(dim, 1, 0)}}, {.file = v, .frames = {wrong}}}),
               std::invalid_argument);
  EXPECT_EQ(test::databaseRows(LibraryTestAccess::db(*library)), rows);
  EXPECT_EQ(test::memorySnapshot(*library), before);
}

TEST_F(FramesTest, StatesAreRecordedAndFailedFilesRetried) {
  library->setState(v.id, FileState::failed, "Usually a damaged file", 12.0);
  library->setState(p.id, FileState::failed, "unreadable");
  MediaFile failedV = cached(*library, v.id);
  EXPECT_EQ(failedV.state, FileState::failed);
  EXPECT_EQ(failedV.error, "Usually a damaged file");
  EXPECT_EQ(failedV.duration, 12.0);
  library->setState(p.id, FileState::indexed);  // no error given clears it
  EXPECT_EQ(cached(*library, p.id).error, std::nullopt);
  EXPECT_EQ(cached(*library, p.id).duration, 0);
  library->setState(424242, FileState::failed, "no such file");  // not cached: nothing to do
  EXPECT_EQ(library->allFiles().size(), 2u);

  library->retryFailed();
  EXPECT_EQ(cached(*library, v.id).state, FileState::pending);
  EXPECT_EQ(cached(*library, v.id).error, std::nullopt);
  EXPECT_EQ(cached(*library, v.id).duration, 12.0);
  EXPECT_EQ(cached(*library, p.id).state, FileState::indexed);

  const test::MemorySnapshot memory = test::memorySnapshot(*library);
  library.reset();
  library = open();
  EXPECT_EQ(test::memorySnapshot(*library), memory);
}

TEST_F(FramesTest, FailedStateWritesLeaveMemoryAsItWas) {
  library->setState(v.id, FileState::failed, "first");
  const test::MemorySnapshot before = test::memorySnapshot(*library);
  LibraryTestAccess::db(*library).exec(
      "CREATE TRIGGER frozen BEFORE UPDATE OF state ON files "
      "BEGIN SELECT RAISE(ABORT, 'frozen'); END;");
  EXPECT_THROW(library->setState(p.id, FileState::failed, "x", 3.0), SQLite::Failure);
  EXPECT_THROW(library->retryFailed(), SQLite::Failure);
  EXPECT_THROW(library->saveFrames(p, {testFrame(dim, 1, 0)}, 0, 1, 1), SQLite::Failure);
  EXPECT_EQ(test::memorySnapshot(*library), before);
}

TEST_F(FramesTest, DisplayReadsTurnFailuresIntoNothing) {
  library->saveFrames(v, {testFrame(dim, 1, 0, Bytes{5})}, 1, 1, 1);
  const std::int64_t frameID = library->vectors().vectors(v.id).at(0).first.frameID;
  ASSERT_EQ(library->thumbnail(frameID), Bytes{5});
  LibraryTestAccess::db(*library).exec(
      "ALTER TABLE frames RENAME TO frames_elsewhere; ALTER TABLE thumbs RENAME TO elsewhere");
  EXPECT_EQ(library->thumbnail(frameID), std::nullopt);
  EXPECT_TRUE(library->frameTimes(v.id).empty());
  LibraryTestAccess::db(*library).exec(
      "ALTER TABLE frames_elsewhere RENAME TO frames; ALTER TABLE elsewhere RENAME TO thumbs");
  EXPECT_EQ(library->thumbnail(frameID), Bytes{5});
}

class OrderAndTotalsTest : public ScanTest {};

TEST_F(OrderAndTotalsTest, PendingPhotosNewestFirstThenVideosSmallestFirst) {
  library->applyScan(root.id, {video("big.mp4", 5'000'000, 1), photo("p10.jpg", 1, 10),
                               photo("p30.jpg", 1, 30), video("small.mp4", 1'000'000, 2),
                               photo("p20.jpg", 1, 20), photo("done.jpg", 1, 40)});
  Root other = addRootWithFiles(*library, "/other", {photo("elsewhere.jpg", 1, 50)});
  index("done.jpg", 1);
  std::vector<std::string> order;
  for (const MediaFile& file : LibraryTestAccess::pending(*library, {root.id}))
    order.push_back(file.relPath);
  EXPECT_EQ(order,
            (std::vector<std::string>{"p30.jpg", "p20.jpg", "p10.jpg", "small.mp4", "big.mp4"}));
  EXPECT_EQ(LibraryTestAccess::pending(*library, {root.id, other.id}).front().relPath,
            "elsewhere.jpg");
  EXPECT_EQ(LibraryTestAccess::pending(*library, {root.id, other.id}).size(), 6u);
  EXPECT_TRUE(LibraryTestAccess::pending(*library, {}).empty());
  EXPECT_TRUE(LibraryTestAccess::pending(*library, {424242}).empty());
}

TEST_F(OrderAndTotalsTest, ThePendingOrderFollowsEveryChangeAsASortWould) {
  Root other = addRootWithFiles(*library, "/other", {photo("o.jpg", 7, 15), video("o.mp4", 9, 1)});
  const std::set<std::int64_t> both{root.id, other.id};
  const auto expectInStep = [&](const char* step) {
    SCOPED_TRACE(step);
    std::vector<MediaFile> sorted;
    for (const MediaFile& file : library->allFiles()) {
      if (file.state == FileState::pending) sorted.push_back(file);
    }
    std::sort(sorted.begin(), sorted.end(), [](const MediaFile& a, const MediaFile& b) {
      return PendingOrder::Key::of(a) < PendingOrder::Key::of(b);
    });
    EXPECT_EQ(LibraryTestAccess::pending(*library, both), sorted);
    std::vector<MediaFile> inPairs;  // taken two at a time, as a run takes its batches
    for (std::optional<PendingOrder::Key> after;;) {
      const std::vector<MediaFile> two = library->pendingAfter(both, after, 2);
      if (two.empty()) break;
      inPairs.insert(inPairs.end(), two.begin(), two.end());
      after = PendingOrder::Key::of(two.back());
    }
    EXPECT_EQ(inPairs, sorted);
    const Library::Totals totals = library->totals();
    const PendingOrder::Sums sums = library->pendingSums(both);
    EXPECT_EQ(sums.files(), totals.pending);
    EXPECT_EQ(sums.photoBytes + sums.videoBytes, totals.pendingBytes);
  };
  library->applyScan(root.id, {photo("a.jpg", 1, 10), photo("b.jpg", 2, 30), photo("c.jpg", 3, 20),
                               video("v.mp4", 50, 1), video("w.mp4", 40, 2)});
  expectInStep("added");
  library->applyScan(root.id, {photo("a.jpg", 1, 40), photo("moved/b.jpg", 2, 30),
                               photo("c.jpg", 3, 20), video("w.mp4", 60, 9)});
  expectInStep("changed, moved and removed");
  index("c.jpg", 1);
  library->setState(fileAt(*library, root.id, "a.jpg").id, FileState::failed, "bad");
  expectInStep("indexed and failed");
  library->retryFailed();
  expectInStep("failed retried");
  library->applyScan(root.id, {photo("a.jpg", 1, 40), photo("moved/b.jpg", 2, 30),
                               photo("c.jpg", 5, 20), video("w.mp4", 60, 9)});
  expectInStep("indexed file edited");
  library->removeRoot(other.id);
  expectInStep("folder removed");
  library.reset();
  library = open();
  expectInStep("reopened");
}

TEST_F(OrderAndTotalsTest, TotalsCountTheFilteredFilesAndEveryFrame) {
  library->applyScan(root.id, {photo("a.jpg", 100, 1), photo("b.jpg", 200, 2),
                               video("c.mp4", 3000, 3), video("d.mp4", 4000, 4)});
  Root other = addRootWithFiles(*library, "/other", {photo("e.jpg", 50000, 5)});
  MediaFile c = fileAt(*library, root.id, "c.mp4");
  library->saveFrames(c, {testFrame(dim, 1, 0), testFrame(dim, 2, 2), testFrame(dim, 3, 4)}, 30.5,
                      1, 1);
  index("a.jpg", 4);
  library->setState(fileAt(*library, root.id, "b.jpg").id, FileState::failed, "bad");
  library->saveFrames(library->files(other.id).at(0), {testFrame(dim, 6, 0)}, 0, 1, 1);

  const Library::Totals ofRoot = library->totals(std::set<std::int64_t>{root.id});
  EXPECT_EQ(ofRoot, (Library::Totals{.files = 4,
                                     .indexed = 2,
                                     .pending = 1,
                                     .failed = 1,
                                     .photos = 2,
                                     .videos = 2,
                                     .bytes = 7300,
                                     .indexedBytes = 3100,
                                     .pendingBytes = 4000,
                                     .indexedVideoSeconds = 30.5,
                                     .frames = 6}));
  const Library::Totals all = library->totals();
  EXPECT_EQ(all.files, 5);
  EXPECT_EQ(all.bytes, 57300);
  EXPECT_EQ(all.indexed, 3);
  EXPECT_EQ(all.frames, 6);
  const Library::Totals none = library->totals(std::set<std::int64_t>{});
  EXPECT_EQ(none, (Library::Totals{.frames = 6}));
  EXPECT_EQ(library->rootCounts(),
            (std::map<std::int64_t, Library::RootCounts>{
                {root.id, {.files = 4, .indexed = 2, .indexedPhotos = 1}},
                {other.id, {.files = 1, .indexed = 1, .indexedPhotos = 1}}}));
}

}  // namespace
}  // namespace quillmere

namespace quillmere {
namespace {

// Ids outlive their rows: the indexer, search results and thumbnail caches may still hold
// them, so a new row never takes the id of a deleted one, even after reopening.
TEST_F(FramesTest, IdsOfDeletedRowsAreNeverGivenAgain) {
  library->saveFrames(v, {testFrame(dim, 1, 0), testFrame(dim, 2, 1)}, 1, 1, 1);
  const std::int64_t lastFrame = library->vectors().vectors(v.id).back().first.frameID;
  library->saveFrames(v, {testFrame(dim, 3, 0)}, 1, 1, 1);
  EXPECT_GT(library->vectors().vectors(v.id).at(0).first.frameID, lastFrame);

  // The indexer still holds v when a scan drops it and finds a new file.
  const MediaFile stale = v;
  library->applyScan(root.id, {photo("p.jpg", 10, 100), photo("new.jpg", 1, 1)});
  const MediaFile newcomer = fileAt(*library, root.id, "new.jpg");
  EXPECT_GT(newcomer.id, stale.id);
  EXPECT_THROW(library->saveFrames(stale, {testFrame(dim, 4, 0)}, 1, 1, 1), SQLite::Failure);
  EXPECT_EQ(cached(*library, newcomer.id).state, FileState::pending);
  EXPECT_TRUE(library->frameTimes(newcomer.id).empty());

  library->saveFrames(newcomer, {testFrame(dim, 5, 0)}, 0, 1, 1);
  const std::int64_t newest = library->vectors().vectors(newcomer.id).at(0).first.frameID;
  library->applyScan(root.id, {photo("p.jpg", 10, 100), photo("new.jpg", 2, 1)});  // changed
  Root later = library->addRoot("/later", std::nullopt, std::nullopt, std::nullopt, false);
  library->removeRoot(later.id);
  library.reset();
  library = open();
  library->saveFrames(cached(*library, newcomer.id), {testFrame(dim, 6, 0)}, 0, 1, 1);
  EXPECT_GT(library->vectors().vectors(newcomer.id).at(0).first.frameID, newest);
  EXPECT_GT(library->addRoot("/again", std::nullopt, std::nullopt, std::nullopt, false).id,
            later.id);
}

}  // namespace
}  // namespace quillmere
