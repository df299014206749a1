// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "LibraryFixture.h"
#include "support/LibraryTestAccess.h"

namespace quillmere {
namespace {

using test::LibraryTest;
using test::photo;
using test::testFrame;
using test::video;

// The thumbnail of a test frame names its file, so that a reader can check what it got.
Bytes thumbFor(std::int64_t fileID) {
  return {static_cast<std::uint8_t>(fileID & 0xff), static_cast<std::uint8_t>(fileID >> 8), 0x5a};
}

// Checks that memory and database agree once writing has stopped.
void expectConsistent(Library& library) {
  std::set<std::int64_t> rowIDs;
  LibraryTestAccess::db(library).query(
      "SELECT id FROM files", [&](const SQLite::Row& row) { rowIDs.insert(row.integer(0)); });
  std::set<std::int64_t> cachedIDs;
  for (const MediaFile& file : library.allFiles()) cachedIDs.insert(file.id);
  EXPECT_EQ(cachedIDs, rowIDs);
  std::int64_t frames = 0;
  LibraryTestAccess::db(library).query("SELECT count(*) FROM frames",
                                       [&](const SQLite::Row& row) { frames = row.integer(0); });
  EXPECT_EQ(static_cast<std::int64_t>(library.vectors().count()), frames);
  for (std::int64_t id : rowIDs) {
    std::vector<double> times;
    for (const auto& [row, values] : library.vectors().vectors(id)) times.push_back(row.time);
    std::sort(times.begin(), times.end());
    EXPECT_EQ(times, library.frameTimes(id)) << "file " << id;
  }
}

// One writer scans and saves frames the way the indexer does while readers search, count
// and list. Every reader checks what must hold at any instant.
TEST_F(LibraryTest, ReadersSeeOnlyCommittedWholeStatesWhileTheIndexerWrites) {
  auto library = open();
  Root root = library->addRoot("/media", std::nullopt, std::nullopt, std::nullopt, false);
  constexpr int rounds = 40;
  std::size_t savedRows = 0;
  std::atomic<bool> done{false};
  std::atomic<std::int64_t> searches{0}, reads{0};

  std::thread writer([&] {
    for (int round = 0; round < rounds; ++round) {
      // A listing that adds, changes, moves and drops files from round to round.
      std::vector<ScannedFile> listing;
      for (int i = 0; i < 24; ++i) {
        const int generation = (i + round) / 8;  // a few files change each round
        const std::string folder = (i % 5 == round % 5) ? "moved/" : "";
        if ((i + round) % 11 == 0) continue;  // vanishes this round
        listing.push_back(
            i % 3 == 0
                ? video(folder + "v" + std::to_string(i) + ".mp4", 1000 + generation, 100 + i)
                : photo(folder + "p" + std::to_string(i) + ".jpg", 10 + generation, 200 + i));
      }
      library->applyScan(root.id, listing);
      std::vector<MediaFile> pending = LibraryTestAccess::pending(*library, {root.id});
      for (std::size_t start = 0; start < pending.size(); start += 4) {
        std::vector<Library::FrameBatchEntry> batch;
        for (std::size_t i = start; i < std::min(pending.size(), start + 4); ++i) {
          const MediaFile& file = pending[i];
          std::vector<FrameRecord> frames;
          // Long videos make enough dead rows for the index to compact under the readers.
          const int count = file.kind == MediaKind::video ? 150 : 1;
          savedRows += static_cast<std::size_t>(count);
          for (int f = 0; f < count; ++f) {
            frames.push_back(
                testFrame(dim, static_cast<int>(file.id) + f, 2.0 * f, thumbFor(file.id)));
          }
          batch.push_back({.file = file, .frames = frames, .duration = 2.0 * count});
        }
        library->saveFrames(batch);
      }
      if (round % 7 == 3 && !pending.empty()) {
        library->setState(pending.front().id, FileState::failed, "unreadable");
        library->retryFailed();
      }
    }
    done = true;
  });

  std::thread searcher([&] {
    const std::vector<float> query = floatsFromHalves(test::testVector(dim, 3));
    while (!done) {
      auto hits = library->vectors().search(
          query, 8, [&](std::int64_t fileID) { return library->file(fileID).has_value(); });
      for (const VectorIndex::Hit& hit : hits) {
        // A frame deleted a moment ago has no thumbnail; a present one is its file's.
        std::optional<Bytes> thumb = library->thumbnail(hit.row.frameID);
        if (thumb) {
          EXPECT_EQ(*thumb, thumbFor(hit.row.fileID));
        }
      }
      searches.fetch_add(1);
    }
  });

  std::thread reader([&] {
    while (!done) {
      Library::Totals totals = library->totals();
      EXPECT_EQ(totals.indexed + totals.pending + totals.failed, totals.files);
      EXPECT_EQ(totals.photos + totals.videos, totals.files);
      for (const MediaFile& file : library->files(root.id)) {
        EXPECT_EQ(file.rootID, root.id);
        if (file.state == FileState::failed) {
          EXPECT_TRUE(file.error.has_value());
        }
        EXPECT_EQ(library->filePath(file), std::filesystem::path("/media") / file.relPath);
      }
      std::vector<MediaFile> all = library->allFiles();
      std::set<std::string> paths;
      for (const MediaFile& file : all) paths.insert(file.relPath);
      EXPECT_EQ(paths.size(), all.size()) << "a path cached twice";
      reads.fetch_add(1);
    }
  });

  writer.join();
  searcher.join();
  reader.join();
  EXPECT_GT(searches.load(), 0);
  EXPECT_GT(reads.load(), 0);
  EXPECT_LT(library->vectors().storedRows(), savedRows) << "the index never compacted";
  expectConsistent(*library);
  EXPECT_EQ(library->totals().pending, 0);
  const test::MemorySnapshot memory = test::memorySnapshot(*library);
  library.reset();
  library = open();
  EXPECT_EQ(test::memorySnapshot(*library), memory);
}

// A folder forgotten while another thread reads: the reader sees it whole or not at all,
// and once the root is gone from memory its files and vector rows are gone too.
TEST_F(LibraryTest, ARootRemovedUnderARunningReaderNeverShowsAHalfState) {
  auto library = open();
  Root kept = addRootWithFiles(*library, "/kept", {photo("k.jpg", 1, 1)});
  library->saveFrames(library->files(kept.id).at(0), {testFrame(dim, 1, 0)}, 0, 1, 1);
  constexpr std::size_t fileCount = 1000;
  for (int cycle = 0; cycle < 10; ++cycle) {
    std::vector<ScannedFile> listing;
    for (std::size_t i = 0; i < fileCount; ++i) {
      listing.push_back(photo(std::to_string(i) + ".jpg", static_cast<std::int64_t>(i), 1));
    }
    Root gone = addRootWithFiles(*library, "/gone", listing);
    const std::vector<MediaFile> files = library->files(gone.id);
    std::vector<Library::FrameBatchEntry> batch;
    for (const MediaFile& file : files) {
      batch.push_back({.file = file, .frames = {testFrame(dim, static_cast<int>(file.id), 0)}});
    }
    library->saveFrames(batch);
    std::atomic<int> started{0};
    // One reader lists and counts the root's files all the time.
    std::thread lister([&] {
      started += 1;
      while (library->root(gone.id)) {
        const std::size_t listed = library->files(gone.id).size();
        const std::int64_t counted = library->totals(std::set<std::int64_t>{gone.id}).files;
        EXPECT_TRUE(listed == 0 || listed == fileCount) << listed;
        EXPECT_TRUE(counted == 0 || counted == static_cast<std::int64_t>(fileCount)) << counted;
      }
      EXPECT_TRUE(library->files(gone.id).empty());
      EXPECT_EQ(library->totals(std::set<std::int64_t>{gone.id}).files, 0);
    });
    // The other watches for the root to leave memory: by then its vector rows are gone.
    std::thread watcher([&] {
      started += 1;
      while (library->root(gone.id)) {
      }
      EXPECT_EQ(library->vectors().count(), 1u);
      for (const MediaFile& file : files) {
        EXPECT_EQ(library->filePath(file), std::nullopt);
        EXPECT_EQ(library->file(file.id), std::nullopt);
      }
    });
    while (started < 2) std::this_thread::yield();
    library->removeRoot(gone.id);
    lister.join();
    watcher.join();
  }
  EXPECT_EQ(library->vectors().count(), 1u);
  EXPECT_EQ(library->allFiles().size(), 1u);
  expectConsistent(*library);
}

// The indexer stores frames for a folder's files while the folder is removed: whichever
// comes first, no vector row or cached file of the folder outlives it.
TEST_F(LibraryTest, ARootRemovedWhileItsFramesAreSavedLeavesNothingBehind) {
  auto library = open();
  for (int cycle = 0; cycle < 20; ++cycle) {
    std::vector<ScannedFile> listing;
    for (int i = 0; i < 64; ++i) listing.push_back(photo(std::to_string(i) + ".jpg", i, i));
    Root root = addRootWithFiles(*library, "/media", listing);
    const std::vector<MediaFile> files = library->files(root.id);
    std::atomic<bool> started{false};
    std::thread indexer([&] {
      for (std::size_t first = 0; first < files.size(); first += 2) {
        started = true;
        try {
          library->saveFrames(
              {{.file = files[first], .frames = {testFrame(dim, 1, 0), testFrame(dim, 2, 1)}},
               {.file = files[first + 1], .frames = {testFrame(dim, 3, 0)}}});
        } catch (const SQLite::Failure&) {
          // The folder is gone: its files can no longer take frames.
        }
      }
    });
    while (!started) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::microseconds(200 * cycle));
    library->removeRoot(root.id);
    indexer.join();
    EXPECT_EQ(library->vectors().count(), 0u) << "cycle " << cycle;
    EXPECT_TRUE(library->allFiles().empty());
  }
  expectConsistent(*library);
}

}  // namespace
}  // namespace quillmere
