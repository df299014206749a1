// SPDX-License-Identifier: GPL-3.0-or-later
// A stage after the embedder: run on every picture, switched off, and given to a library
// indexed before it existed.
#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <mutex>

#include "IndexerFixture.h"
#include "core/PictureFaces.h"
#include "core/PictureText.h"
#include "core/TextFolding.h"
#include "engine/FaceFinding.h"
#include "engine/TextReading.h"
#include "indexer/ProgressMeter.h"
#include "indexer/StageSet.h"
#include "support/LibraryTestAccess.h"
#include "support/MediaFactory.h"

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

// Does no work of its own, but says it does share times the embedder's.
class ShareStage : public SideStage {
 public:
  ShareStage(std::string name, double share) : name_(std::move(name)), share_(share) {}
  std::string name() const override { return name_; }
  double share() const override { return share_; }

 private:
  std::string name_;
  double share_;
};

std::vector<std::int64_t> frameIDs(Library& library) {
  std::vector<std::int64_t> ids;
  LibraryTestAccess::db(library).query(
      "SELECT id FROM frames ORDER BY id",
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
  std::mutex lock;
  std::vector<Indexer::Filling> told;  // the progress says what is added, file by file
  indexer->onProgress = [&](const Indexer::Progress& progress) {
    std::lock_guard hold(lock);
    if (progress.filling) told.push_back(*progress.filling);
  };
  indexer->run();
  indexer->waitUntilIdle();
  EXPECT_FALSE(indexer->currentProgress().filling);
  ASSERT_FALSE(told.empty());
  EXPECT_EQ(told.front(), (Indexer::Filling{.stage = "side", .done = 0, .total = 6}));
  EXPECT_TRUE(std::is_sorted(told.begin(), told.end(),
                             [](const auto& a, const auto& b) { return a.done < b.done; }));
  EXPECT_EQ(stage->seen, static_cast<int>(embedded.size()));
  expectRowsForEveryFrame(embedded.size());
  EXPECT_EQ(frameIDs(*library), embedded);  // a file embedded again gets new frame ids

  indexer->run();
  indexer->waitUntilIdle();
  EXPECT_EQ(stage->seen, static_cast<int>(embedded.size()));  // done once
}

// The words read in the file's one picture, folded, or nothing when none are stored.
std::string foldedText(Library& library, std::int64_t fileID) {
  std::string all;
  for (const auto& row : library.stageRows(fileID, Library::textStage)) {
    for (const TextLine& line : PictureText::decoded(row.data).lines) all += line.text;
  }
  return TextFolding::folded(all);
}

TEST_F(StageTest, TextIsReadOnceAndKeptOrReplacedWithItsFile) {
  const auto model = std::filesystem::path(QUILLMERE_RESOURCES_DIR) / "TextModel";
  if (!std::filesystem::exists(model)) GTEST_SKIP() << "no text model: run scripts/setup";
  const auto folder = makeFolder("Pictures");
  addPhotos(folder, 2);
  writeWordsPhoto(folder / "sign.jpg", "BROOKLYN BRIDGE");
  addRoot(folder);
  const auto reading = TextReading::open(true, model);
  ASSERT_EQ(reading.state(), TextReading::State::on);
  auto indexer = makeIndexer();
  reading.addTo(*indexer);
  indexer->run();
  indexer->waitUntilIdle();
  ASSERT_EQ(library->totals().indexed, 3);
  const auto byName = [&](const std::string& name) {
    for (const MediaFile& file : library->allFiles()) {
      if (file.relPath == name) return file;
    }
    ADD_FAILURE() << name;
    return MediaFile{};
  };
  // Read over a photo, a stray letter may come between the words.
  const std::string sign = foldedText(*library, byName("sign.jpg").id);
  EXPECT_TRUE(sign.starts_with("brooklyn") && sign.ends_with("bridge")) << sign;
  EXPECT_EQ(foldedText(*library, byName("photo00.jpg").id), "");
  EXPECT_TRUE(library->lacking(Library::textStage, {library->roots()[0].id}).empty());

  // Edited: its text is replaced with its frames; removed: its text goes with it.
  writeWordsPhoto(folder / "sign.jpg", "EXIT 25");
  std::filesystem::last_write_time(
      folder / "sign.jpg", std::filesystem::file_time_type::clock::now() - std::chrono::hours(2));
  indexer->run();
  indexer->waitUntilIdle();
  EXPECT_EQ(foldedText(*library, byName("sign.jpg").id).substr(0, 4), "exit");
  const std::vector<std::string> brooklyn{TextFolding::folded("Brooklyn")};
  EXPECT_TRUE(library->linesHolding(brooklyn, 10).empty());
  std::filesystem::remove(folder / "sign.jpg");
  indexer->run();
  indexer->waitUntilIdle();
  const std::vector<std::string> exit{TextFolding::folded("exit")};
  EXPECT_TRUE(library->linesHolding(exit, 10).empty());
  EXPECT_EQ(library->totals().indexed, 2);
}

TEST_F(StageTest, AMissingOrDamagedTextModelLeavesReadingOff) {
  const auto damaged = makeFolder("TextModel");
  std::ofstream(damaged / "text-model.json") << "{\"detector\": 3";
  EXPECT_EQ(TextReading::open(true, temp->path() / "none").state(), TextReading::State::noModel);
  const auto opened = TextReading::open(true, damaged);
  EXPECT_EQ(opened.state(), TextReading::State::modelDamaged);
  EXPECT_FALSE(opened.detail().empty());
  EXPECT_EQ(opened.directory(), std::nullopt);
  EXPECT_EQ(TextReading::open(false, damaged).state(), TextReading::State::off);
  // Faces likewise.
  std::ofstream(damaged / "face-model.json") << "{\"detector\": 3";
  EXPECT_EQ(FaceFinding::open(true, temp->path() / "none").state(), FaceFinding::State::noModel);
  const auto faces = FaceFinding::open(true, damaged);
  EXPECT_EQ(faces.state(), FaceFinding::State::modelDamaged);
  EXPECT_FALSE(faces.detail().empty());
  EXPECT_EQ(FaceFinding::open(false, damaged).state(), FaceFinding::State::off);
}

// A library indexed without faces gains them at the next run; a photo stored turned (EXIF)
// has its faces where they are in the upright photo.
TEST_F(StageTest, FacesComeToAnOlderLibraryInUprightCoordinates) {
  const auto model = std::filesystem::path(QUILLMERE_RESOURCES_DIR) / "FaceModel";
  const auto group = std::filesystem::path(QUILLMERE_SOURCE_DIR) / "third_party/face-photos";
  if (!std::filesystem::exists(model / "FaceDetector.onnx") ||
      !std::filesystem::exists(group / "sample6.jpg"))
    GTEST_SKIP() << "no face model or photos: run scripts/setup";
  const auto folder = makeFolder("Pictures");
  addPhotos(folder, 1);
  std::filesystem::copy(group / "sample6.jpg", folder / "group.jpg");
  // Stored a quarter turn back; orientation 6 turns it upright.
  test::runCommand("vips rot " + test::shellQuoted(group / "sample6.jpg") + " " +
                   test::shellQuoted(folder / "turned.jpg") + " d270");
  test::runCommand("exiftool -q -overwrite_original -n -Orientation=6 " +
                   test::shellQuoted(folder / "turned.jpg"));
  addRoot(folder);
  {
    auto before = makeIndexer();
    before->run();
    before->waitUntilIdle();
  }
  ASSERT_EQ(library->totals().indexed, 3);
  ASSERT_EQ(library->lacking(Library::faceStage, {library->roots()[0].id}).size(), 3u);

  const auto finding = FaceFinding::open(true, model);
  ASSERT_EQ(finding.state(), FaceFinding::State::on);
  auto indexer = makeIndexer();
  finding.addTo(*indexer);
  indexer->run();
  indexer->waitUntilIdle();
  EXPECT_TRUE(library->lacking(Library::faceStage, {library->roots()[0].id}).empty());
  std::map<std::string, PictureFaces> found;
  for (const MediaFile& file : library->allFiles()) {
    for (const auto& row : library->stageRows(file.id, Library::faceStage))
      found[file.relPath] = PictureFaces::decoded(row.data);
  }
  EXPECT_FALSE(found.contains("photo00.jpg"));  // no faces, no row
  ASSERT_EQ(found["group.jpg"].faces.size(), 4u);
  ASSERT_EQ(found["turned.jpg"].faces.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    for (int p = 0; p < 2; ++p) {
      EXPECT_NEAR(found["turned.jpg"].faces[i].box[p].x, found["group.jpg"].faces[i].box[p].x,
                  0.02);
      EXPECT_NEAR(found["turned.jpg"].faces[i].box[p].y, found["group.jpg"].faces[i].box[p].y,
                  0.02);
    }
  }
}

// With three photos measured and a gigabyte of video left at its starting rate (40 s with the
// embedder alone), the time left grows with the shares of the stages that are on.
TEST_F(StageTest, TimeLeftWeighsTheStagesThatAreOnByTheirShares) {
  struct Case {
    std::vector<double> shares;  // stages after the embedder, named s0, s1, ...
    std::vector<std::string> off;
    double seconds;
  };
  const std::vector<Case> cases = {{{}, {}, 40},
                                   {{3}, {}, 160},
                                   {{3}, {"s0"}, 40},
                                   {{0.5, 1.5}, {}, 120},
                                   {{2, 1}, {"s1"}, 120}};
  const std::function<void(const Indexer::Progress&)> unheard;
  for (const Case& c : cases) {
    StageSet stages(*embedder);
    for (std::size_t i = 0; i < c.shares.size(); ++i) {
      stages.add(std::make_shared<ShareStage>("s" + std::to_string(i), c.shares[i]));
    }
    for (const std::string& name : c.off) stages.turn(name, false);
    ProgressMeter meter(unheard, stages);
    meter.countLeft({.photos = 3, .photoBytes = 3000, .videos = 1, .videoBytes = 1'000'000'000});
    const MediaFile photo{.kind = MediaKind::photo, .size = 1000};
    for (int i = 0; i < 3; ++i) meter.finish(photo, ProgressMeter::Clock::now(), 1, true);
    ASSERT_TRUE(meter.current().secondsLeft) << c.seconds;
    EXPECT_NEAR(*meter.current().secondsLeft, c.seconds, 1e-6);
  }
}

}  // namespace
}  // namespace quillmere::test
