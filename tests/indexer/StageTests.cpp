// SPDX-License-Identifier: GPL-3.0-or-later
// A stage after the embedder: run on every picture, switched off, and given to a library
// indexed before it existed.
#include <algorithm>
#include <atomic>

#include "IndexerFixture.h"

namespace quillmere::test {
namespace {

// Keeps each picture's longest side as its row, and counts the pictures it was given.
class SideStage : public Stage {
 public:
  static constexpr std::int64_t side = 64;
  std::string name() const override { return "side"; }
  std::int64_t pixels() const override { return side; }
  std::vector<std::vector<Library::StageRow>> process(
      std::span<const StagePicture> pictures) override {
    std::vector<std::vector<Library::StageRow>> rows;
    for (const StagePicture& picture : pictures) {
      const int longest = std::max(picture.image.width, picture.image.height);
      rows.push_back({{.time = picture.time, .data = Bytes{static_cast<std::uint8_t>(longest)}}});
    }
    seen += static_cast<int>(pictures.size());
    return rows;
  }
  std::atomic<int> seen{0};
};

std::vector<std::int64_t> frameIDs(Library& library) {
  std::vector<std::int64_t> ids;
  library.db().query("SELECT id FROM frames ORDER BY id",
                     [&](const SQLite::Row& row) { ids.push_back(row.integer(0)); });
  return ids;
}

class StageTest : public IndexerTest {
 protected:
  // Every file of the library has one row of the stage per frame, none over its size.
  void expectRowsForEveryFrame(std::size_t frames) {
    std::size_t rows = 0;
    for (const MediaFile& file : library->allFiles()) {
      const auto found = library->stageRows(file.id, "side");
      EXPECT_EQ(found.size(), library->frameTimes(file.id).size()) << file.relPath;
      for (const auto& row : found) {
        ASSERT_EQ(row.data.size(), 1u);
        EXPECT_LE(row.data[0], SideStage::side);
        EXPECT_GT(row.data[0], 0);
      }
      rows += found.size();
    }
    EXPECT_EQ(rows, frames);
  }
};

TEST_F(StageTest, RunsOnEveryPhotoAndVideoFrameAndIsNotRunWhenSwitchedOff) {
  const auto folder = makeFolder("Pictures");
  addPhotos(folder, 5);
  addVideo(folder, "clip.mp4");
  addRoot(folder);
  auto stage = std::make_shared<SideStage>();
  auto indexer = makeIndexer();
  indexer->addStage(stage);
  indexer->run();
  indexer->waitUntilIdle();
  const auto frames = static_cast<int>(library->totals().frames);
  ASSERT_GT(frames, 6);  // the video gave more than one
  EXPECT_EQ(stage->seen, frames);
  expectRowsForEveryFrame(static_cast<std::size_t>(frames));

  indexer->switchStage("side", false);
  const auto more = makeFolder("More");
  addPhotos(more, 3, "more");
  addRoot(more);
  indexer->run();
  indexer->waitUntilIdle();
  EXPECT_EQ(library->totals().indexed, 9);
  EXPECT_EQ(stage->seen, frames);
  EXPECT_EQ(library->lacking("side", {library->roots().back().id}).size(), 3u);
}

TEST_F(StageTest, AnOlderLibraryGainsItsRowsWithoutEmbeddingAgain) {
  const auto folder = makeFolder("Pictures");
  addPhotos(folder, 5);
  addVideo(folder, "clip.mp4");
  addRoot(folder);
  {
    auto before = makeIndexer();
    before->run();
    before->waitUntilIdle();
  }
  const std::vector<std::int64_t> embedded = frameIDs(*library);
  ASSERT_EQ(library->totals().indexed, 6);

  auto stage = std::make_shared<SideStage>();
  auto indexer = makeIndexer();
  indexer->addStage(stage);
  indexer->run();
  indexer->waitUntilIdle();
  EXPECT_EQ(stage->seen, static_cast<int>(embedded.size()));
  expectRowsForEveryFrame(embedded.size());
  EXPECT_EQ(frameIDs(*library), embedded);  // a file embedded again gets new frame ids

  indexer->run();
  indexer->waitUntilIdle();
  EXPECT_EQ(stage->seen, static_cast<int>(embedded.size()));  // done once
}

}  // namespace
}  // namespace quillmere::test
