// SPDX-License-Identifier: GPL-3.0-or-later
// A real library, the demo model and media made at test time for the indexer's tests.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "index/Library.h"
#include "indexer/Indexer.h"
#include "model/Embedder.h"
#include "platform/PowerMonitor.h"
#include "support/FakeSystemTree.h"
#include "support/TempDirectory.h"

namespace quillmere {

// What the indexer keeps to itself, read by its tests.
class IndexerInspection {
 public:
  static bool isPausedByUser(const Indexer& indexer) { return indexer.isPausedByUser(); }
};

}  // namespace quillmere

namespace quillmere::test {

class IndexerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // Copies of prepared photos (about 13-30 kB, 320 px) named photo<NN>.jpg, with mtimes one
  // minute apart, newest last.
  std::vector<std::filesystem::path> addPhotos(const std::filesystem::path& folder, int count,
                                               const std::string& prefix = "photo");
  // A copy of the prepared 4-second pattern clip.
  std::filesystem::path addVideo(const std::filesystem::path& folder, const std::string& name);
  std::filesystem::path makeFolder(const std::string& name);
  Root addRoot(const std::filesystem::path& folder);
  // The indexer over the fixture's library with the fake machine readings.
  std::unique_ptr<Indexer> makeIndexer();
  // Waits, polling, for a condition; false when it did not come true in time.
  static bool eventually(const std::function<bool()>& condition,
                         std::chrono::milliseconds limit = std::chrono::seconds(60));

  static std::filesystem::path modelDirectory();

  std::unique_ptr<TempDirectory> temp;
  std::unique_ptr<FakeSystemTree> machine;
  std::unique_ptr<Embedder> embedder;
  std::unique_ptr<Library> library;

  // Every report the indexer made, with the time it came.
 public:
  struct Report {
    Indexer::Progress progress;
    std::chrono::steady_clock::time_point at;
  };

 protected:
  std::mutex reportsLock;
  std::vector<Report> reports;
  std::vector<Report> reportsCopy();
  void recordReports(Indexer& indexer);

  static inline std::unique_ptr<TempDirectory> media;
  static inline std::vector<std::filesystem::path> basePhotos;
  static inline std::filesystem::path baseVideo;
};

// The tests that run the indexer beside other threads: ./test runs every *Concurrency suite
// under ThreadSanitizer.
using IndexerConcurrency = IndexerTest;

}  // namespace quillmere::test
