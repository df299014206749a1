// SPDX-License-Identifier: GPL-3.0-or-later
// A scan that lands while a photo batch is being decoded: what it removed or changed must
// not turn the rest of the batch into failures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <future>

#include "HostileFolder.h"
#include "index/Library.h"
#include "indexer/Indexer.h"
#include "model/Embedder.h"
#include "platform/PowerMonitor.h"
#include "scan/Scanner.h"
#include "support/TempDirectory.h"

namespace quillmere::test {
namespace {
namespace fs = std::filesystem;

class ScanDuringBatch : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto& photos = BaseMedia::shared().photos;
    folder = temp / "photos";
    fs::create_directories(folder);
    const auto now = std::chrono::system_clock::now();
    // Twenty photos, newest first by name: photo00..15 make the first batch, 16..19 the second.
    for (int i = 0; i < 20; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "photo%02d.jpg", i);
      const fs::path file = folder / name;
      fs::copy_file(photos[static_cast<std::size_t>(i) % photos.size()], file);
      const auto when = std::chrono::system_clock::to_time_t(now - std::chrono::minutes(i));
      const timespec times[2] = {{when, 0}, {when, 0}};
      ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    }
    embedder = std::make_unique<Embedder>(fs::path(QUILLMERE_RESOURCES_DIR) / "Model");
    library = std::make_unique<Library>(temp / "Library.sqlite", embedder->info().dim,
                                        embedder->info().signature());
    root = library->addRoot(folder.string(), std::nullopt, std::nullopt, std::nullopt, false);
  }

  // Runs the indexer once; after its first stored batch, `duringBatch` plays the scan.
  void runWith(const std::function<void()>& duringBatch) {
    Indexer indexer(*library, *embedder, {}, std::make_shared<PowerMonitor>(temp / "machine"));
    bool first = true;
    indexer.onFileIndexed = [&](const MediaFile&) {
      if (std::exchange(first, false)) duringBatch();
    };
    indexer.run();
    auto idle = std::async(std::launch::async, [&] { indexer.waitUntilIdle(); });
    ASSERT_EQ(idle.wait_for(std::chrono::seconds(120)), std::future_status::ready);
    progress = indexer.currentProgress();
  }

  TempDirectory temp;
  fs::path folder;
  std::unique_ptr<Embedder> embedder;
  std::unique_ptr<Library> library;
  Root root;
  Indexer::Progress progress;
};

TEST_F(ScanDuringBatch, AFileAScanRemovedFailsNoOtherPhotoOfItsBatch) {
  runWith([&] {
    // A listing without photo18, which is still on disk and in the batch being made.
    auto listing = Scanner::scan(folder, [] { return false; }).files;
    std::erase_if(listing, [](const ScannedFile& f) { return f.relPath == "photo18.jpg"; });
    EXPECT_EQ(library->applyScan(root.id, listing).removed, 1);
  });
  EXPECT_EQ(progress.failed, 0);
  const auto totals = library->totals();
  EXPECT_EQ(totals.failed, 0);
  EXPECT_EQ(totals.indexed, 19);
  for (const auto& file : library->allFiles()) {
    EXPECT_EQ(file.state, FileState::indexed) << file.relPath << ": " << file.error.value_or("");
  }

  // The next scan finds it again.
  runWith([] {});
  EXPECT_EQ(library->totals().indexed, 20);
}

TEST_F(ScanDuringBatch, AFileAScanFoundChangedIsIndexedAsItIsNow) {
  runWith([&] {
    // photo17 of the batch being made gets new content, and a scan records it.
    fs::copy_file(BaseMedia::shared().redPhoto, folder / "photo17.jpg",
                  fs::copy_options::overwrite_existing);
    EXPECT_EQ(
        library->applyScan(root.id, Scanner::scan(folder, [] { return false; }).files).changed, 1);
  });
  const auto totals = library->totals();
  EXPECT_EQ(totals.failed, 0);
  EXPECT_EQ(totals.indexed, 20);
  for (const auto& file : library->files(root.id)) {
    if (file.relPath != "photo17.jpg") continue;
    EXPECT_EQ(file.size, static_cast<std::int64_t>(fs::file_size(folder / "photo17.jpg")));
    EXPECT_EQ(library->vectors().vectors(file.id).size(), 1u);
  }
  // A scan now agrees with the library.
  EXPECT_EQ(library->applyScan(root.id, Scanner::scan(folder, [] { return false; }).files),
            Library::ScanChanges{});
}

}  // namespace
}  // namespace quillmere::test
