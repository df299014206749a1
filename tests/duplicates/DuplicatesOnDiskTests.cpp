// SPDX-License-Identifier: GPL-3.0-or-later
// Duplicate groups checked against the files on disk: real photos indexed with the demo
// model into a real library, then moved, deleted or stored twice.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "duplicates/DuplicateFinder.h"
#include "index/Library.h"
#include "indexer/Indexer.h"
#include "model/Embedder.h"
#include "platform/PowerMonitor.h"
#include "support/MediaFactory.h"
#include "support/TempDirectory.h"

namespace quillmere {
namespace {

namespace fs = std::filesystem;
using Group = DuplicateFinder::Group;

class DuplicatesOnDisk : public ::testing::Test {
 protected:
  // Two different wallpapers, made small so that indexing is quick.
  static void SetUpTestSuite() {
    if (media) return;
    media = std::make_unique<test::TempDirectory>();
    const fs::path wallpapers = "/usr/share/backgrounds/mate/nature";
    for (const char* name : {"LadyBird", "Storm"}) {
      const fs::path out = media->path() / (std::string(name) + ".jpg");
      test::runCommand("vips thumbnail " +
                       test::shellQuoted(wallpapers / (std::string(name) + ".jpg")) + " " +
                       test::shellQuoted(out.string() + "[Q=90]") + " 320");
    }
  }

  void SetUp() override {
    embedder = std::make_unique<Embedder>(fs::path(QUILLMERE_RESOURCES_DIR) / "Model");
    library = std::make_unique<Library>(temp / "Library.sqlite", embedder->info().dim,
                                        embedder->info().signature());
  }

  static fs::path kite() { return media->path() / "LadyBird.jpg"; }
  static fs::path storm() { return media->path() / "Storm.jpg"; }

  // A copy of source at temp/relPath, modified the given number of days ago.
  fs::path put(const std::string& relPath, const fs::path& source, int daysOld) {
    const fs::path file = temp / relPath;
    fs::create_directories(file.parent_path());
    fs::copy_file(source, file);
    fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(24 * daysOld));
    return file;
  }

  void add(const fs::path& folder) {
    library->addRoot(folder.string(), std::nullopt, std::nullopt, std::nullopt, false);
  }

  // Scans every folder and indexes what it found, as the index command does.
  void index() {
    Indexer indexer(*library, *embedder, {}, std::make_shared<PowerMonitor>(temp / "machine"));
    indexer.run();
    indexer.waitUntilIdle();
    for (const MediaFile& file : library->allFiles()) {
      ASSERT_EQ(file.state, FileState::indexed) << file.relPath;
    }
  }

  // Each group as its files' locations (folder path and relative path as stored).
  std::vector<std::vector<fs::path>> groups() {
    std::vector<std::vector<fs::path>> all;
    for (const Group& group : DuplicateFinder::find(*library, DuplicateFinder::exact)) {
      std::vector<fs::path> paths;
      for (const MediaFile& file : group.files)
        paths.push_back(library->filePath(file)->lexically_normal());
      all.push_back(paths);
    }
    return all;
  }

  static inline std::unique_ptr<test::TempDirectory> media;
  test::TempDirectory temp;
  std::unique_ptr<Embedder> embedder;
  std::unique_ptr<Library> library;
};

using Paths = std::vector<std::vector<fs::path>>;

TEST_F(DuplicatesOnDisk, AFileStoredUnderTwoFoldersIsListedOnce) {
  // The second folder holds the first one's "Trip", by nesting or through a link.
  struct Case {
    std::string name;
    std::string second;  // folder added after Photos, relative to temp
    bool link;           // second is a link to Photos/Trip
  };
  const std::vector<Case> cases = {{"nested", "Photos/Trip", false}, {"linked", "Trip link", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    library.reset();
    for (const auto& entry : fs::directory_iterator(temp.path())) fs::remove_all(entry.path());
    SetUp();
    const fs::path original = put("Photos/Trip/Kite.jpg", kite(), 3);
    const fs::path copy = put("Photos/Kite copy.jpg", kite(), 1);
    put("Photos/Storm.jpg", storm(), 2);
    if (c.link) fs::create_directory_symlink(temp / "Photos/Trip", temp / c.second);
    add(temp / "Photos");
    add(temp / c.second);
    index();
    ASSERT_EQ(library->allFiles().size(), 4u) << "Kite.jpg is stored under both folders";

    const Paths found = groups();
    ASSERT_EQ(found.size(), 1u);
    ASSERT_EQ(found[0].size(), 2u) << "the same file twice: keep it and remove it";
    EXPECT_EQ(fs::canonical(found[0][0]), fs::canonical(original));
    EXPECT_EQ(found[0][1], copy);
  }
}

TEST_F(DuplicatesOnDisk, AFileDeletedSinceIndexingLeavesItsGroup) {
  const fs::path original = put("Photos/Kite.jpg", kite(), 3);
  const fs::path copy = put("Photos/Kite copy.jpg", kite(), 2);
  const fs::path second = put("Photos/Kite copy 2.jpg", kite(), 1);
  put("Photos/Storm.jpg", storm(), 2);
  add(temp / "Photos");
  index();
  EXPECT_EQ(groups(), (Paths{{original, copy, second}}));

  // The keeper goes: the oldest copy left is kept, and no deleted file is.
  fs::remove(original);
  EXPECT_EQ(groups(), (Paths{{copy, second}}));
  // One copy left: nothing is a duplicate of it.
  fs::remove(second);
  EXPECT_EQ(groups(), Paths{});
}

TEST_F(DuplicatesOnDisk, TheFilesOfAFolderThatCannotBeReachedStay) {
  put("Photos/Trip/Kite.jpg", kite(), 3);
  put("Photos/Kite copy.jpg", kite(), 1);
  add(temp / "Photos");
  add(temp / "Photos/Trip");
  index();
  // The drive is unplugged: nothing can be checked, but a file is still one file.
  fs::rename(temp / "Photos", temp / "Unplugged");
  EXPECT_EQ(groups(), (Paths{{temp / "Photos/Trip/Kite.jpg", temp / "Photos/Kite copy.jpg"}}));
}

}  // namespace
}  // namespace quillmere
