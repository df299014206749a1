// Searching through the model: debouncing, cancellation, applying answers with kept
// selections, image queries and exact times, against the demo model and a real library.
#include <QtTest/QSignalSpy>
#include <future>

#include "SearchQueue.h"

#include "AppFixture.h"
#include "search/SearchEngine.h"
#include "support/MediaFactory.h"

namespace quillmere::test {
namespace {

class SearchTest : public AppTest {
 protected:
  // Wallpapers in A, a red-then-blue clip in B.
  void makeLibrary() {
    const auto a = makeFolder("A");
    const auto b = makeFolder("B");
    addPhotos(a, 6);
    clip = addClip(b, "clip.mp4");
    rootA = addIndexed(a);
    rootB = addIndexed(b);
    for (const auto& file : model().library()->allFiles()) {
      EXPECT_EQ(file.state, FileState::indexed) << file.relPath << " " << file.error.value_or("");
    }
    ASSERT_EQ(model().totals().indexed, 7);
  }
  std::optional<SearchResult> firstVideo() const {
    for (const auto& result : model_->results()->results()) {
      if (result.file.kind == MediaKind::video) return result;
    }
    return std::nullopt;
  }
  std::optional<SearchResult> firstPhoto() const {
    for (const auto& result : model_->results()->results()) {
      if (result.file.kind == MediaKind::photo) return result;
    }
    return std::nullopt;
  }

  std::filesystem::path clip;
  std::int64_t rootA = 0;
  std::int64_t rootB = 0;
};

TEST_F(SearchTest, TypingWithinTheDelaySearchesOnceForTheLastText) {
  makeLibrary();
  QSignalSpy started(&model(), &AppModel::searchStarted);
  QSignalSpy applied(&model(), &AppModel::searchApplied);
  model().setQuery("red");
  QTest::qWait(30);
  model().setQuery("red car");
  ASSERT_TRUE(applied.wait(answerWait));
  QTest::qWait(300);
  EXPECT_EQ(started.count(), 1);
  EXPECT_EQ(applied.count(), 1);
  EXPECT_EQ(model().searchedQuery(), "red car");
  EXPECT_GT(model().lastSearchMS(), 0);
}

TEST_F(SearchTest, ASpaceOnlyQueryEmptiesEverythingWithoutSearching) {
  makeLibrary();
  search("red");
  ASSERT_GT(model().results()->rowCount(), 0);
  ASSERT_TRUE(model().selection());
  QSignalSpy started(&model(), &AppModel::searchStarted);
  model().setQuery(" \t \n ");
  EXPECT_EQ(model().results()->rowCount(), 0);
  EXPECT_EQ(model().selection(), std::nullopt);
  EXPECT_EQ(model().searchedQuery(), "");
  EXPECT_FALSE(started.wait(300));
}

TEST_F(SearchTest, TheSameKindFilterTwiceSearchesOnce) {
  makeLibrary();
  search("red");
  QSignalSpy started(&model(), &AppModel::searchStarted);
  QSignalSpy applied(&model(), &AppModel::searchApplied);
  model().setKindFilter(AppModel::KindFilter::Photos);
  ASSERT_TRUE(applied.wait(answerWait));
  EXPECT_EQ(model().results()->rowCount(), 6);
  model().setKindFilter(AppModel::KindFilter::Photos);
  EXPECT_FALSE(started.wait(300));
  EXPECT_EQ(started.count(), 1);
  model().setKindFilter(AppModel::KindFilter::Videos);
  ASSERT_TRUE(applied.wait(answerWait));
  ASSERT_GT(model().results()->rowCount(), 0);
  for (const auto& result : model().results()->results()) {
    EXPECT_EQ(result.file.kind, MediaKind::video);
  }
}

struct KeepCase {
  std::string name;
  bool removeSelected;  // the selected frame's folder leaves the library before the re-run
  bool selectionKept;
};

class KeepSelectionTest : public SearchTest, public ::testing::WithParamInterface<KeepCase> {};

TEST_P(KeepSelectionTest, ARerunKeepsTheSelectionOnlyWhileItsFrameIsListed) {
  makeLibrary();
  search("red");
  const auto video = firstVideo();
  ASSERT_TRUE(video);
  QSignalSpy exact(&model(), &AppModel::exactTimesChanged);
  model().select(video->frameID);
  ASSERT_TRUE(waitFor([&] { return model().exactTimes().contains(video->frameID); }));

  if (GetParam().removeSelected) model().library()->removeRoot(rootB);
  QSignalSpy applied(&model(), &AppModel::searchApplied);
  QSignalSpy resets(model().results(), &QAbstractItemModel::modelReset);
  model().scheduleSearch(true, true);
  ASSERT_TRUE(applied.wait(answerWait));
  if (GetParam().selectionKept) {
    EXPECT_EQ(model().selection(), video->frameID);
    EXPECT_TRUE(model().exactTimes().contains(video->frameID));
    EXPECT_EQ(resets.count(), 0);  // the same frames: rows updated in place
  } else {
    ASSERT_GT(model().results()->rowCount(), 0);
    EXPECT_EQ(model().selection(), model().results()->results().front().frameID);
    EXPECT_TRUE(model().exactTimes().empty());
    EXPECT_EQ(resets.count(), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, KeepSelectionTest,
                         ::testing::Values(KeepCase{"FrameStillListed", false, true},
                                           KeepCase{"FrameGone", true, false}),
                         [](const auto& info) { return info.param.name; });

TEST_F(SearchTest, AnImageQueryOverridesTheText) {
  makeLibrary();
  QSignalSpy applied(&model(), &AppModel::searchApplied);
  model().searchByImage(QString::fromStdString(photos[2].string()));
  ASSERT_TRUE(applied.wait(answerWait));
  EXPECT_EQ(model().imageQueryName(), "base2.jpg");
  EXPECT_EQ(model().searchedQuery(), "base2.jpg");
  EXPECT_EQ(model().query(), "");
  const auto results = model().results()->results();
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(results.front().file.name(), "p2.jpg");  // the same picture, copied into A

  model().setQuery("blue");
  ASSERT_TRUE(applied.wait(answerWait));
  EXPECT_EQ(model().searchedQuery(), "base2.jpg");
  EXPECT_EQ(model().results()->results(), results);

  model().clearImageQuery();
  ASSERT_TRUE(applied.wait(answerWait));
  EXPECT_EQ(model().searchedQuery(), "blue");
}

TEST_F(SearchTest, MoreLikeThisSearchesWithTheStoredFrame) {
  makeLibrary();
  search("red");
  const auto video = firstVideo();
  ASSERT_TRUE(video);
  QSignalSpy applied(&model(), &AppModel::searchApplied);
  model().moreLikeThis(video->frameID);
  ASSERT_TRUE(applied.wait(answerWait));
  EXPECT_EQ(model().searchedQuery().toStdString(), MoreLikeThis::name(video->file, video->time));
  ASSERT_FALSE(model().results()->results().empty());
  EXPECT_EQ(model().results()->results().front().frameID, video->frameID);
}

TEST_F(SearchTest, RefinementStartsOnlyForAReachableVideo) {
  makeLibrary();
  search("red");
  const auto photo = firstPhoto();
  const auto video = firstVideo();
  ASSERT_TRUE(photo && video);
  QSignalSpy refinements(&model(), &AppModel::refinementStarted);
  model().select(photo->frameID);
  EXPECT_EQ(refinements.count(), 0);

  const auto b = temp->path() / "B";
  std::filesystem::rename(b, temp->path() / "Unplugged");
  model().volumesChanged();  // searches again without keeping the selection
  QSignalSpy applied(&model(), &AppModel::searchApplied);
  ASSERT_TRUE(applied.wait(answerWait));
  model().select(video->frameID);
  EXPECT_EQ(refinements.count(), 0);

  std::filesystem::rename(temp->path() / "Unplugged", b);
  model().resolveFolders();
  model().select(photo->frameID);
  model().select(video->frameID);
  ASSERT_EQ(refinements.count(), 1);
  EXPECT_EQ(refinements.front().front().toLongLong(), video->frameID);
  ASSERT_TRUE(waitFor([&] { return model().exactTimes().contains(video->frameID); }));
  const auto open = model().openTime(*video);
  EXPECT_LE(std::abs(open - video->time), SearchEngine::refineSpan + 1e-9);
}

TEST_F(SearchTest, ARefinementForAnOlderSearchIsDropped) {
  makeLibrary();
  search("red");
  const auto video = firstVideo();
  ASSERT_TRUE(video);
  // The refinement waits behind a gate until a newer search has been applied.
  std::promise<void> gate;
  model().refinementQueue().post([opened = gate.get_future().share()] { opened.wait(); });
  QSignalSpy refinements(&model(), &AppModel::refinementStarted);
  model().select(video->frameID);
  ASSERT_EQ(refinements.count(), 1);
  QSignalSpy applied(&model(), &AppModel::searchApplied);
  model().setKindFilter(AppModel::KindFilter::Photos);
  model().setQuery("blue");
  ASSERT_TRUE(applied.wait(answerWait));
  gate.set_value();
  model().refinementQueue().sync();
  QTest::qWait(100);
  EXPECT_FALSE(model().exactTimes().contains(video->frameID));
}

TEST_F(SearchTest, ATextModelFailureIsShownAndThePreviousResultsStay) {
  // A model directory whose text encoder is gone: pictures still embed, text does not.
  const auto broken = temp->path() / "Model";
  std::filesystem::copy(modelDirectory(), broken, std::filesystem::copy_options::recursive);
  for (const auto& entry : std::filesystem::directory_iterator(broken)) {
    if (entry.path().stem() == "TextEncoder") std::filesystem::remove_all(entry.path());
  }
  auto parts = setup();
  parts.modelDirectory = broken;
  model_ = std::make_unique<AppModel>(parts);
  const auto a = makeFolder("A");
  addPhotos(a, 3);
  addIndexed(a);
  QSignalSpy applied(&model(), &AppModel::searchApplied);
  model().searchByImage(QString::fromStdString(photos[0].string()));
  ASSERT_TRUE(applied.wait(answerWait));
  const auto results = model().results()->results();
  ASSERT_EQ(results.size(), 3u);
  model().setQuery("red");  // the image query still decides what is searched
  ASSERT_TRUE(applied.wait(answerWait));
  QSignalSpy notices(&model(), &AppModel::noticeChanged);
  model().clearImageQuery();
  ASSERT_TRUE(notices.wait(answerWait));
  EXPECT_EQ(model().notice().toStdString(),
            "The search model is incomplete (TextEncoder is missing). Reinstall Quillmere.");
  EXPECT_EQ(model().results()->results(), results);
}

}  // namespace
}  // namespace quillmere::test
