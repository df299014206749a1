// SPDX-License-Identifier: GPL-3.0-or-later
// The application killed outright while it indexes loses nothing: every batch is stored in
// one transaction, so the library reopens with each file indexed or still pending, and the
// next start (which the killed instance's socket must not stop) indexes the rest.
#include <optional>

#include "AppFixture.h"
#include "AppProcess.h"
#include "index/SQLite.h"

namespace quillmere::test {
namespace {

QString text(const std::filesystem::path& path) {
  return QString::fromStdString(path.string());
}

// What the library file holds, read as another process would.
struct Stored {
  std::int64_t files = 0;
  std::int64_t indexed = 0;
  std::int64_t pending = 0;
  std::int64_t failed = 0;
  std::int64_t framesOfUnindexed = 0;  // frames of files not (yet) indexed
  std::int64_t indexedWithoutFrames = 0;
  std::int64_t mostFramesOfAPhoto = 0;  // 1 unless a photo was stored twice
  std::string integrity;

  static std::optional<Stored> read(const std::filesystem::path& library) {
    if (!std::filesystem::exists(library)) return std::nullopt;
    try {
      SQLite db(library.string(), SQLite::Access::readOnly);
      Stored stored;
      const auto count = [&db](const std::string& sql) {
        std::int64_t value = 0;
        db.query(sql, [&value](const SQLite::Row& row) { value = row.integer(0); });
        return value;
      };
      stored.files = count("SELECT count(*) FROM files");
      stored.indexed = count("SELECT count(*) FROM files WHERE state = 1");
      stored.pending = count("SELECT count(*) FROM files WHERE state = 0");
      stored.failed = count("SELECT count(*) FROM files WHERE state = 2");
      stored.framesOfUnindexed = count(
          "SELECT count(*) FROM frames JOIN files ON files.id = frames.file_id "
          "WHERE files.state <> 1");
      stored.indexedWithoutFrames = count(
          "SELECT count(*) FROM files WHERE state = 1 AND NOT EXISTS "
          "(SELECT 1 FROM frames WHERE frames.file_id = files.id)");
      stored.mostFramesOfAPhoto = count(
          "SELECT coalesce(max(n), 0) FROM (SELECT count(*) AS n FROM frames JOIN files ON "
          "files.id = frames.file_id WHERE files.rel_path LIKE '%.jpg' GROUP BY file_id)");
      db.query("PRAGMA quick_check",
               [&stored](const SQLite::Row& row) { stored.integrity = row.text(0).value_or(""); });
      return stored;
    } catch (const std::exception&) {
      return std::nullopt;  // not made yet
    }
  }
};

class KilledIndexingTest : public AppTest {};

TEST_F(KilledIndexingTest, KilledWhileIndexingItReopensWithNothingLostAndFinishes) {
  const auto folder = makeFolder("photos");
  constexpr int photoCount = 64;
  addPhotos(folder, photoCount);
  addClip(folder, "a.mp4");
  addClip(folder, "b.mp4");
  constexpr int total = photoCount + 2;
  const auto home = temp->path() / "home";
  const auto library = temp->path() / "Library.sqlite";

  {
    AppProcess first(home, library, modelDirectory());
    first.start({text(folder)});
    // Killed once the first batch is stored and more is waiting.
    ASSERT_TRUE(waitFor([&] {
      const auto stored = Stored::read(library);
      return stored && stored->indexed >= 16 && stored->pending >= 1;
    })) << first.output().toStdString();
    first.kill();
  }
  const auto killed = Stored::read(library);
  ASSERT_TRUE(killed);
  std::cout << "killed with " << killed->indexed << " of " << total << " files indexed\n";
  EXPECT_EQ(killed->integrity, "ok");
  EXPECT_EQ(killed->files, total);
  EXPECT_EQ(killed->indexed + killed->pending, total);
  EXPECT_GE(killed->pending, 1);
  EXPECT_EQ(killed->failed, 0);
  EXPECT_EQ(killed->framesOfUnindexed, 0);
  EXPECT_EQ(killed->indexedWithoutFrames, 0);
  // The killed instance's socket is still there.
  EXPECT_TRUE(std::filesystem::exists(AppProcess::socketPath(home)));

  AppProcess again(home, library, modelDirectory());
  again.start();
  ASSERT_TRUE(waitFor([&] {
    const auto stored = Stored::read(library);
    return stored && stored->indexed == total;
  })) << again.output().toStdString();
  EXPECT_EQ(again.process().state(), QProcess::Running) << again.output().toStdString();
  const auto finished = Stored::read(library);
  ASSERT_TRUE(finished);
  EXPECT_EQ(finished->files, total);
  EXPECT_EQ(finished->pending, 0);
  EXPECT_EQ(finished->failed, 0);
  EXPECT_EQ(finished->indexedWithoutFrames, 0);
  EXPECT_EQ(finished->mostFramesOfAPhoto, 1);
}

}  // namespace
}  // namespace quillmere::test
