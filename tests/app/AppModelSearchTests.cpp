// SPDX-License-Identifier: GPL-3.0-or-later
// Searching through the model: debouncing, cancellation, applying answers with kept
// selections, image queries and exact times, against the demo model and a real library.
#include <QtTest/QAbstractItemModelTester>
#include <QtTest/QSignalSpy>
#include <algorithm>
#include <fstream>
#include <future>
#include <map>
#include <random>
#include <set>

#include <QSettings>

#include "IndexingStatus.h"
#include "ResultListModel.h"
#include "SerialQueue.h"

#include "AppFixture.h"
#include "model/Embedder.h"
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
    ASSERT_EQ(model().folders()->totals().indexed, 7);
  }
  std::optional<SearchResult> firstVideo() const {
    for (const auto& result : model_->search()->results()->results()) {
      if (result.file.kind == MediaKind::video) return result;
    }
    return std::nullopt;
  }
  std::optional<SearchResult> firstPhoto() const {
    for (const auto& result : model_->search()->results()->results()) {
      if (result.file.kind == MediaKind::photo) return result;
    }
    return std::nullopt;
  }

  std::filesystem::path clip;
  std::int64_t rootA = 0;
  std::int64_t rootB = 0;
};
using SearchConcurrency = SearchTest;

TEST_F(SearchConcurrency, TypingWithinTheDelaySearchesOnceForTheLastText) {
  makeLibrary();
  QSignalSpy started(model().search(), &SearchModel::searchStarted);
  QSignalSpy applied(model().search(), &SearchModel::searchApplied);
  model().search()->setQuery("red");
  QTest::qWait(30);
  model().search()->setQuery("red car");
  ASSERT_TRUE(applied.wait(answerWait));
  QTest::qWait(300);
  EXPECT_EQ(started.count(), 1);
  EXPECT_EQ(applied.count(), 1);
  EXPECT_EQ(model().search()->searchedQuery(), "red car");
  EXPECT_GT(model().search()->lastSearchMS(), 0);
}

TEST_F(SearchConcurrency, ASpaceOnlyQueryEmptiesEverythingWithoutSearching) {
  makeLibrary();
  search("red");
  ASSERT_GT(model().search()->results()->rowCount(), 0);
  ASSERT_TRUE(model().search()->selection());
  QSignalSpy started(model().search(), &SearchModel::searchStarted);
  model().search()->setQuery(" \t \n ");
  EXPECT_EQ(model().search()->results()->rowCount(), 0);
  EXPECT_EQ(model().search()->selection(), std::nullopt);
  EXPECT_EQ(model().search()->searchedQuery(), "");
  EXPECT_FALSE(started.wait(300));
}

TEST_F(SearchConcurrency, TheSameKindFilterTwiceSearchesOnce) {
  makeLibrary();
  search("red");
  QSignalSpy started(model().search(), &SearchModel::searchStarted);
  QSignalSpy applied(model().search(), &SearchModel::searchApplied);
  model().search()->setKindFilter(SearchModel::KindFilter::Photos);
  ASSERT_TRUE(applied.wait(answerWait));
  EXPECT_EQ(model().search()->results()->rowCount(), 6);
  model().search()->setKindFilter(SearchModel::KindFilter::Photos);
  EXPECT_FALSE(started.wait(300));
  EXPECT_EQ(started.count(), 1);
  model().search()->setKindFilter(SearchModel::KindFilter::Videos);
  ASSERT_TRUE(applied.wait(answerWait));
  ASSERT_GT(model().search()->results()->rowCount(), 0);
  for (const auto& result : model().search()->results()->results()) {
    EXPECT_EQ(result.file.kind, MediaKind::video);
  }
}

struct KeepCase {
  std::string name;
  bool removeSelected;  // the selected frame's folder leaves the library before the re-run
  QString typed;        // a new query typed just before the re-run, as indexing refreshes
  bool selectionKept;
};

class KeepSelectionTest : public SearchTest, public ::testing::WithParamInterface<KeepCase> {};
using KeepSelectionConcurrency = KeepSelectionTest;

TEST_P(KeepSelectionConcurrency, ARerunKeepsTheSelectionOnlyWhileItsFrameIsListed) {
  makeLibrary();
  search("red");
  const auto video = firstVideo();
  ASSERT_TRUE(video);
  QSignalSpy exact(model().search(), &SearchModel::exactTimesChanged);
  model().search()->select(video->frameID);
  ASSERT_TRUE(waitFor([&] { return model().search()->exactTimes().contains(video->frameID); }));

  if (GetParam().removeSelected) model().library()->removeRoot(rootB);
  QSignalSpy applied(model().search(), &SearchModel::searchApplied);
  QSignalSpy resets(model().search()->results(), &QAbstractItemModel::modelReset);
  QSignalSpy replaced(model().search(), &SearchModel::resultsReplaced);
  if (!GetParam().typed.isEmpty()) model().search()->setQuery(GetParam().typed);
  model().search()->scheduleSearch(true, true);
  ASSERT_TRUE(applied.wait(answerWait));
  EXPECT_EQ(resets.count(), 0);  // rows removed or updated in place
  EXPECT_EQ(replaced.count(), GetParam().selectionKept ? 0 : 1);
  // A new query that lists the frame too, or keeping it would pass unseen.
  if (!GetParam().typed.isEmpty()) {
    ASSERT_TRUE(model().search()->results()->row(video->frameID));
  }
  if (GetParam().selectionKept) {
    EXPECT_EQ(model().search()->selection(), video->frameID);
    EXPECT_TRUE(model().search()->exactTimes().contains(video->frameID));
  } else {
    ASSERT_GT(model().search()->results()->rowCount(), 0);
    EXPECT_EQ(model().search()->selection(),
              model().search()->results()->results().front().frameID);
    EXPECT_TRUE(model().search()->exactTimes().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, KeepSelectionConcurrency,
                         ::testing::Values(KeepCase{"FrameStillListed", false, {}, true},
                                           KeepCase{"FrameGone", true, {}, false},
                                           KeepCase{"NewQueryTyped", false, "red car", false}),
                         [](const auto& info) { return info.param.name; });

// The frames of a list before and after a re-run.
struct ApplyCase {
  std::string name;
  std::vector<std::int64_t> before;
  std::vector<std::int64_t> after;
};

std::vector<std::int64_t> frameRange(std::int64_t first, std::int64_t last) {
  std::vector<std::int64_t> frames;
  for (auto frame = first; frame <= last; ++frame) frames.push_back(frame);
  return frames;
}

std::vector<std::int64_t> shuffled(std::vector<std::int64_t> frames) {
  std::mt19937 random(7);
  std::shuffle(frames.begin(), frames.end(), random);
  return frames;
}

// A result's score follows its place, so a row that moves also changes.
std::vector<SearchResult> resultsOf(const std::vector<std::int64_t>& frames) {
  std::vector<SearchResult> results;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    SearchResult result;
    result.frameID = frames[i];
    result.file.id = frames[i] / 4;
    result.time = static_cast<double>(frames[i] % 4);
    result.score = 1 - static_cast<float>(i) / 2000;
    results.push_back(result);
  }
  return results;
}

// Collects the warnings logged while it lives: the model tester's complaints among them.
class Warnings {
 public:
  Warnings() : previous_(qInstallMessageHandler(&record)) { logged().clear(); }
  ~Warnings() { qInstallMessageHandler(previous_); }
  static QStringList& logged() {
    static QStringList warnings;
    return warnings;
  }

 private:
  static void record(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtWarningMsg || type == QtCriticalMsg) logged() << text;
  }
  QtMessageHandler previous_;
};

class ApplyResultsTest : public ::testing::TestWithParam<ApplyCase> {};
using ApplyResultsConcurrency = ApplyResultsTest;

TEST_P(ApplyResultsConcurrency, ARerunMovesTheRowsItKeepsAndNeverResets) {
  const auto& before = GetParam().before;
  const auto expected = resultsOf(GetParam().after);
  ResultListModel results;
  results.setResults(resultsOf(before));
  const Warnings warnings;
  const QAbstractItemModelTester tester(&results,
                                        QAbstractItemModelTester::FailureReportingMode::Warning);
  // A kept frame's persistent index follows it, as its tile does in the grid.
  std::map<std::int64_t, QPersistentModelIndex> kept;
  std::set<std::int64_t> changedValues;
  for (const auto& result : expected) {
    const auto row = results.row(result.frameID);
    if (!row) continue;
    kept.emplace(result.frameID, QPersistentModelIndex(results.index(*row)));
    if (!(results.results()[static_cast<std::size_t>(*row)] == result)) {
      changedValues.insert(result.frameID);
    }
  }
  std::set<std::int64_t> reported;
  QObject::connect(&results, &QAbstractItemModel::dataChanged,
                   [&](const QModelIndex& first, const QModelIndex& last) {
                     for (int row = first.row(); row <= last.row(); ++row) {
                       reported.insert(results.results()[static_cast<std::size_t>(row)].frameID);
                     }
                   });
  QSignalSpy resets(&results, &QAbstractItemModel::modelReset);
  QSignalSpy counts(&results, &ResultListModel::countChanged);

  results.setResults(expected);
  EXPECT_EQ(resets.count(), 0);
  EXPECT_EQ(counts.count(), before.size() == expected.size() ? 0 : 1);
  EXPECT_EQ(results.results(), expected);
  for (const auto& [frame, index] : kept) {
    ASSERT_TRUE(index.isValid()) << frame;
    EXPECT_EQ(index.data(ResultListModel::FrameIdRole).toLongLong(), frame);
  }
  for (const auto frame : changedValues) EXPECT_TRUE(reported.contains(frame)) << frame;
  EXPECT_TRUE(warnings.logged().isEmpty()) << warnings.logged().join("\n").toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ApplyResultsConcurrency,
    ::testing::Values(ApplyCase{"InsertAtTheFront", frameRange(1, 6), {7, 8, 1, 2, 3, 4, 5, 6}},
                      ApplyCase{"RemoveFromTheMiddle", frameRange(1, 6), {1, 2, 5, 6}},
                      ApplyCase{"Reverse", frameRange(1, 6), {6, 5, 4, 3, 2, 1}},
                      ApplyCase{"FirstToLast", frameRange(1, 6), {2, 3, 4, 5, 6, 1}},
                      ApplyCase{"Disjoint", frameRange(1, 4), frameRange(5, 8)},
                      ApplyCase{"EmptyToFull", {}, frameRange(1, 5)},
                      ApplyCase{"FullToEmpty", frameRange(1, 5), {}},
                      ApplyCase{"AllAtOnce", frameRange(1, 8), {9, 3, 1, 10, 8, 2, 7}},
                      ApplyCase{"ShuffledThousand", frameRange(1, 1200),
                                shuffled(frameRange(300, 1500))}),
    [](const auto& info) { return info.param.name; });

TEST_F(SearchConcurrency, AnImageQueryCombinesWithTheTextByTheTermRule) {
  makeLibrary();
  QSignalSpy applied(model().search(), &SearchModel::searchApplied);
  model().search()->searchByImage(QString::fromStdString(photos[2].string()));
  ASSERT_TRUE(applied.wait(answerWait));
  EXPECT_EQ(model().search()->imageQueryName(), "base2.jpg");
  EXPECT_EQ(model().search()->searchedQuery(), "base2.jpg");
  EXPECT_EQ(model().search()->query(), "");
  const auto results = model().search()->results()->results();
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(results.front().file.name(), "p2.jpg");  // the same picture, copied into A

  // Words beside the picture may only take away from it.
  model().search()->setQuery("- red");
  ASSERT_TRUE(waitFor([this] { return model().search()->searchedQuery() == "base2.jpg - red"; }));
  Embedder embedder(modelDirectory());
  SearchEngine engine(*model().library(), embedder);
  const auto picture = model().search()->imageQuery()->vector;
  EXPECT_EQ(
      model().search()->results()->results(),
      engine.search(engine.queryVector("- red", picture), {}, SearchModel::resultLimit).results);
  EXPECT_NE(model().search()->results()->results(), results);

  model().search()->setQuery("blue");
  ASSERT_TRUE(waitFor([this] { return model().search()->searchedQuery() == "base2.jpg + blue"; }));
  model().search()->clearImageQuery();
  ASSERT_TRUE(waitFor([this] { return model().search()->searchedQuery() == "blue"; }));
}

TEST_F(SearchConcurrency, WhenOrderAndLikelihoodReachTheSearchAndTheMomentsLine) {
  const auto a = makeFolder("A");
  addPhotos(a, 3);
  // p0 was taken on the first of last year, as far as its file tells.
  const QDate lastYear(QDate::currentDate().year() - 1, 1, 1);
  std::filesystem::last_write_time(
      a / "p0.jpg",
      std::filesystem::file_time_type::clock::now() -
          std::chrono::seconds(
              QDateTime(lastYear, QTime(12, 0)).secsTo(QDateTime::currentDateTime())));
  addIndexed(a);
  search("red");
  auto& search = *model().search();
  ASSERT_EQ(search.results()->rowCount(), 3);
  const auto names = [&search] {
    std::vector<std::string> names;
    for (const auto& result : search.results()->results()) names.push_back(result.file.name());
    return names;
  };
  const auto shows = [&](std::vector<std::string> wanted, const QString& line) {
    return waitFor([&] { return names() == wanted && search.momentsLine().startsWith(line); });
  };
  search.setWhen(SearchModel::When::LastYear);
  EXPECT_TRUE(shows({"p0.jpg"}, "1 moment · last year · ")) << search.momentsLine().toStdString();

  EXPECT_EQ(search.setCustomRange("2024-13", ""),
            "“2024-13” is not a day like 2024-06-01 or a month like 2024-06.");
  EXPECT_EQ(search.when(), SearchModel::When::LastYear);
  // p1 and p2 are wallpapers whose cameras dated them 2008-01-22 03:28 and 2007-08-06.
  EXPECT_EQ(search.setCustomRange("", "2008-01-22"), "");  // the last day is included
  EXPECT_TRUE(waitFor([&] { return search.results()->rowCount() == 2; }));
  EXPECT_EQ(search.setCustomRange("2008-01", "2008-01-22"), "");
  EXPECT_TRUE(shows({"p1.jpg"}, "1 moment · 2008-01 to 2008-01-22 · "));

  search.setWhen(SearchModel::When::AnyTime);
  search.setOrder(SearchModel::Order::Oldest);
  EXPECT_TRUE(shows({"p2.jpg", "p1.jpg", "p0.jpg"}, "3 moments · oldest first · "));
  search.setOrder(SearchModel::Order::Newest);
  EXPECT_TRUE(shows({"p0.jpg", "p1.jpg", "p2.jpg"}, "3 moments · newest first · "));

  // Likely matches only: the demo model's probabilities, as shown, are what is filtered by.
  std::vector<float> shown;
  for (const auto& result : search.results()->results()) shown.push_back(result.probability);
  std::sort(shown.begin(), shown.end());
  ASSERT_LT(shown.front(), shown.back());
  EXPECT_TRUE(search.likelyAvailable());
  search.setLikelyThreshold(shown.back());
  const auto likely = std::count_if(shown.begin(), shown.end(),
                                    [&](float p) { return p >= float(search.likelyThreshold()); });
  ASSERT_LT(likely, 3);
  search.setLikelyOnly(true);
  EXPECT_TRUE(waitFor([&] { return search.results()->rowCount() == likely; }));
}

TEST(TakenRange, ChoicesCoverWholeLocalDaysWeeksMonthsAndYears) {
  using W = SearchModel::When;
  const auto at = [](int y, int m, int d) {
    return double(QDate(y, m, d).startOfDay().toSecsSinceEpoch());
  };
  const QDate wednesday(2024, 12, 18);
  const std::vector<std::tuple<W, Qt::DayOfWeek, SearchModel::TakenRange>> rows{
      {W::Today, Qt::Monday, {at(2024, 12, 18), at(2024, 12, 19)}},
      {W::ThisWeek, Qt::Monday, {at(2024, 12, 16), at(2024, 12, 23)}},
      {W::ThisWeek, Qt::Sunday, {at(2024, 12, 15), at(2024, 12, 22)}},
      {W::ThisWeek, Qt::Wednesday, {at(2024, 12, 18), at(2024, 12, 25)}},
      {W::ThisMonth, Qt::Monday, {at(2024, 12, 1), at(2025, 1, 1)}},
      {W::ThisYear, Qt::Monday, {at(2024, 1, 1), at(2025, 1, 1)}},
      {W::LastYear, Qt::Monday, {at(2023, 1, 1), at(2024, 1, 1)}},
      {W::AnyTime, Qt::Monday, {}},
  };
  for (const auto& [when, firstDay, range] : rows)
    EXPECT_EQ(SearchModel::takenRange(when, wednesday, firstDay), range) << int(when) << firstDay;
}

TEST_F(SearchConcurrency, MoreLikeThisSearchesWithTheStoredFrame) {
  makeLibrary();
  search("red");
  const auto video = firstVideo();
  ASSERT_TRUE(video);
  QSignalSpy applied(model().search(), &SearchModel::searchApplied);
  model().search()->moreLikeThis(video->frameID);
  ASSERT_TRUE(applied.wait(answerWait));
  EXPECT_EQ(model().search()->searchedQuery().toStdString(),
            MoreLikeThis::name(video->file, video->time));
  ASSERT_FALSE(model().search()->results()->results().empty());
  EXPECT_EQ(model().search()->results()->results().front().frameID, video->frameID);
}

// The frame's region as the engine makes it, shown in the chip by its thumbnail.
TEST_F(SearchConcurrency, ARegionOfAResultBecomesTheImageQuery) {
  makeLibrary();
  search("red");
  const auto video = firstVideo();
  ASSERT_TRUE(video);
  QSignalSpy applied(model().search(), &SearchModel::searchApplied);
  model().search()->searchRegion(video->frameID, 1.5, 0.1, 0.2, 0.5, 0.6);
  ASSERT_TRUE(applied.wait(answerWait));
  Embedder embedder(modelDirectory());
  const auto expected = MoreLikeThis::region(embedder, clip, 1.5, {0.1, 0.2, 0.5, 0.6});
  const auto& query = model().search()->imageQuery();
  ASSERT_TRUE(query);
  EXPECT_EQ(query->vector, expected.vector);
  EXPECT_EQ(query->name, "clip.mp4 at 0:01 (region)");
  EXPECT_EQ(model().search()->imageQueryThumbnail(),
            "data:image/jpeg;base64," +
                QByteArray(reinterpret_cast<const char*>(expected.thumbnail.data()),
                           static_cast<qsizetype>(expected.thumbnail.size()))
                    .toBase64());
}

TEST_F(SearchConcurrency, RefinementStartsOnlyForAReachableVideo) {
  makeLibrary();
  search("red");
  const auto photo = firstPhoto();
  const auto video = firstVideo();
  ASSERT_TRUE(photo && video);
  QSignalSpy refinements(model().search(), &SearchModel::refinementStarted);
  model().search()->select(photo->frameID);
  EXPECT_EQ(refinements.count(), 0);

  const auto b = temp->path() / "B";
  std::filesystem::rename(b, temp->path() / "Unplugged");
  model().folders()->volumesChanged();  // searches again without keeping the selection
  QSignalSpy applied(model().search(), &SearchModel::searchApplied);
  ASSERT_TRUE(applied.wait(answerWait));
  model().search()->select(video->frameID);
  EXPECT_EQ(refinements.count(), 0);

  std::filesystem::rename(temp->path() / "Unplugged", b);
  model().folders()->resolveFolders();
  model().search()->select(photo->frameID);
  model().search()->select(video->frameID);
  ASSERT_EQ(refinements.count(), 1);
  EXPECT_EQ(refinements.front().front().toLongLong(), video->frameID);
  ASSERT_TRUE(waitFor([&] { return model().search()->exactTimes().contains(video->frameID); }));
  const auto open = model().search()->openTime(*video);
  EXPECT_LE(std::abs(open - video->time), SearchEngine::refineSpan + 1e-9);
}

TEST_F(SearchConcurrency, ARefinementForAnOlderSearchIsDropped) {
  makeLibrary();
  search("red");
  const auto video = firstVideo();
  ASSERT_TRUE(video);
  // The refinement waits behind a gate until a newer search has been applied.
  std::promise<void> gate;
  model().refinementQueue().post([opened = gate.get_future().share()] { opened.wait(); });
  QSignalSpy refinements(model().search(), &SearchModel::refinementStarted);
  model().search()->select(video->frameID);
  ASSERT_EQ(refinements.count(), 1);
  QSignalSpy applied(model().search(), &SearchModel::searchApplied);
  model().search()->setKindFilter(SearchModel::KindFilter::Photos);
  model().search()->setQuery("blue");
  ASSERT_TRUE(applied.wait(answerWait));
  gate.set_value();
  model().refinementQueue().sync();
  QTest::qWait(100);
  EXPECT_FALSE(model().search()->exactTimes().contains(video->frameID));
}

// Arrow keys held through the results: only the frame selected when the queue gets to it is
// refined, so its exact time does not wait behind those of frames passed by.
TEST_F(SearchConcurrency, AQueuedRefinementOfAFrameNoLongerSelectedIsSkipped) {
  makeLibrary();
  const auto more = makeFolder("C");
  for (const auto* name : {"two.mp4", "three.mp4"}) addClip(more, name);
  addIndexed(more);
  search("red");
  model().refinementQueue().sync();  // the first result's own refinement
  QTest::qWait(100);
  const auto known = model().search()->exactTimes();
  std::vector<std::int64_t> videos;
  for (const auto& result : model().search()->results()->results()) {
    if (result.file.kind == MediaKind::video && !known.contains(result.frameID)) {
      videos.push_back(result.frameID);
    }
  }
  ASSERT_GE(videos.size(), 3u);
  std::promise<void> gate;
  model().refinementQueue().post([opened = gate.get_future().share()] { opened.wait(); });
  for (const auto frame : videos) model().search()->select(frame);
  gate.set_value();
  ASSERT_TRUE(waitFor([&] { return model().search()->exactTimes().contains(videos.back()); }));
  model().refinementQueue().sync();
  QTest::qWait(100);
  EXPECT_EQ(model().search()->exactTimes().size(), known.size() + 1);
}

TEST_F(SearchConcurrency, ATextModelFailureIsShownAndThePreviousResultsStay) {
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
  QSignalSpy applied(model().search(), &SearchModel::searchApplied);
  model().search()->searchByImage(QString::fromStdString(photos[0].string()));
  ASSERT_TRUE(applied.wait(answerWait));
  const auto results = model().search()->results()->results();
  ASSERT_EQ(results.size(), 3u);
  QSignalSpy notices(&model(), &AppModel::noticeChanged);
  model().search()->setQuery("red");  // words beside the picture need the text encoder
  ASSERT_TRUE(notices.wait(answerWait));
  EXPECT_EQ(model().notice().toStdString(),
            "The search model is incomplete (TextEncoder is missing). Reinstall Quillmere.");
  EXPECT_EQ(model().search()->results()->results(), results);

  // A picture that cannot be read is explained too, and the query stays.
  const auto damaged = temp->path() / "damaged.jpg";
  std::ofstream(damaged) << "not a picture";
  model().setNotice("");
  model().search()->searchByImage(QString::fromStdString(damaged.string()));
  // A re-run of the words, after the indexing's last refresh, may say its own notice first.
  QTRY_COMPARE_WITH_TIMEOUT(model().notice().toStdString(),
                            damaged.string() + " could not be read as a photo or a video.",
                            answerWait);
  EXPECT_EQ(model().search()->imageQueryName(), "base0.jpg");
}

TEST_F(SearchConcurrency, TextGoesThroughTheTermRuleAndOnlyMinusesAreExplained) {
  const auto a = makeFolder("A");
  addPhotos(a, 3);
  addIndexed(a);
  search("red");
  const auto red = model().search()->results()->results();
  ASSERT_FALSE(red.empty());
  QSignalSpy notices(&model(), &AppModel::noticeChanged);
  model().search()->setQuery("- red");
  ASSERT_TRUE(notices.wait(answerWait));
  EXPECT_EQ(model().notice().toStdString(),
            "A query needs something to look for: add a term without a minus.");
  EXPECT_EQ(model().search()->results()->results(), red);
}

// Reading switched off reads nothing and says nothing; switched on (kept across starts) the
// next run reads the photo, and the search on show finds it by its words, with its lines in
// the model's roles, without being typed again.
TEST_F(SearchConcurrency, TheTextSwitchPersistsAndResultsFoundByTextCarryTheirLines) {
  const auto folder = makeFolder("Signs");
  writeWordsPhoto(folder / "sign.jpg", "PLATFORM 7 DEPARTURES");
  addPhotos(folder, 2);
  auto withText = setup();
  withText.textModelDirectory = std::filesystem::path(QUILLMERE_RESOURCES_DIR) / "TextModel";
  model_ = std::make_unique<AppModel>(withText);
  auto& status = *model().indexing();
  status.setReadsText(false);
  EXPECT_FALSE(QSettings().value(IndexingStatus::readsTextKey).toBool());
  EXPECT_EQ(status.textNote(), "");
  addIndexed(folder);
  const auto files = model().library()->allFiles();
  const auto sign = *std::find_if(files.begin(), files.end(),
                                  [](const MediaFile& file) { return file.relPath == "sign.jpg"; });
  EXPECT_TRUE(model().library()->stageRows(sign.id, Library::textStage).empty());
  search("platform");
  const auto* results = model().search()->results();
  const int answered = model().search()->answerCount();

  status.setReadsText(true);
  waitIdle();
  ASSERT_FALSE(model().library()->stageRows(sign.id, Library::textStage).empty());
  QTRY_VERIFY_WITH_TIMEOUT(
      results->rowCount() > 0 &&
          results->data(results->index(0), ResultListModel::FoundByTextRole).toBool(),
      10000);
  EXPECT_GT(model().search()->answerCount(), answered);
  const auto top = results->index(0);
  EXPECT_EQ(results->data(top, ResultListModel::NameRole), "sign.jpg");
  EXPECT_TRUE(results->data(top, ResultListModel::FoundByTextRole).toBool());
  EXPECT_TRUE(results->data(top, ResultListModel::FoundTextRole).toString().contains("PLATFORM"));
  const auto lines = results->data(top, ResultListModel::FoundLinesRole).toList();
  ASSERT_FALSE(lines.isEmpty());
  const auto box = lines.front().toMap()["box"].toList();
  ASSERT_EQ(box.size(), 4);
  EXPECT_LT(box[0].toPointF().x(), box[1].toPointF().x()) << "read left to right";
  EXPECT_TRUE(model().search()->readText(results->frameAt(0).toLongLong()).contains("PLATFORM"));
}

TEST_F(SearchConcurrency, AMissingTextModelIsSaidWhileReadingIsOn) {
  auto& status = *model().indexing();
  EXPECT_TRUE(status.readsText()) << "on unless switched off";
  EXPECT_EQ(status.textNote(), "Text in pictures is not read: no text model is installed.");
  QSignalSpy changed(&status, &IndexingStatus::readsTextChanged);
  status.setReadsText(false);
  EXPECT_EQ(changed.count(), 1);
  EXPECT_EQ(status.textNote(), "") << "nothing to say while reading is off";
}

}  // namespace
}  // namespace quillmere::test
