// SPDX-License-Identifier: GPL-3.0-or-later
// Pausing on the power and heat readings, the report throttle and the estimate.
#include <thread>

#include "IndexerFixture.h"
#include "IndexingWords.h"

namespace quillmere::test {
namespace {

using Phase = Indexer::Phase;
using Reason = Indexer::PauseReason;

bool sawPhase(const std::vector<IndexerTest::Report>& reports, const Phase& phase) {
  for (const auto& report : reports) {
    if (report.progress.phase == phase) return true;
  }
  return false;
}

TEST(PauseReasonTextTest, NamesThisComputer) {
  EXPECT_EQ(IndexingWords::pause(Reason::user), "Paused");
  EXPECT_EQ(IndexingWords::pause(Reason::lowPower), "Paused while Power Saver is on");
  EXPECT_EQ(IndexingWords::pause(Reason::hot), "Paused while the computer cools down");
}

TEST_F(IndexerConcurrency, PauseWhileIdleHoldsTheNextRunUntilResume) {
  const auto folder = makeFolder("Pictures");
  addPhotos(folder, 3);
  addRoot(folder);
  auto indexer = makeIndexer();
  recordReports(*indexer);
  indexer->pause();
  EXPECT_TRUE(IndexerInspection::isPausedByUser(*indexer));
  EXPECT_EQ(indexer->currentProgress().phase, Phase::idle());

  indexer->run();
  ASSERT_TRUE(
      eventually([&] { return indexer->currentProgress().phase == Phase::paused(Reason::user); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(library->totals().indexed, 0);
  EXPECT_EQ(indexer->currentProgress().phase, Phase::paused(Reason::user));
  EXPECT_FALSE(indexer->currentProgress().secondsLeft);
  // Paused: one look and one report a second.
  int pausedReports = 0;
  for (const auto& report : reportsCopy()) {
    if (report.progress.phase == Phase::paused(Reason::user)) ++pausedReports;
  }
  EXPECT_GE(pausedReports, 1);
  EXPECT_LE(pausedReports, 3);

  indexer->resume();
  EXPECT_FALSE(IndexerInspection::isPausedByUser(*indexer));
  EXPECT_EQ(indexer->currentProgress().phase, Phase::indexing());
  ASSERT_TRUE(eventually([&] { return library->totals().indexed == 3; }));
  indexer->waitUntilIdle();
  EXPECT_EQ(indexer->currentProgress().phase, Phase::idle());
}

TEST_F(IndexerConcurrency, PowerSaverAndHeatPauseAndTheUserPauseWins) {
  const auto folder = makeFolder("Pictures");
  addPhotos(folder, 2);
  addRoot(folder);
  machine->setDaemonProfile("power-saver");
  machine->setZone(0, 85);  // at the passive trip: serious
  auto indexer = makeIndexer();
  recordReports(*indexer);
  indexer->run();
  ASSERT_TRUE(eventually(
      [&] { return indexer->currentProgress().phase == Phase::paused(Reason::lowPower); }));

  // The user's pause wins over both readings.
  indexer->pause();
  ASSERT_TRUE(
      eventually([&] { return indexer->currentProgress().phase == Phase::paused(Reason::user); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_EQ(indexer->currentProgress().phase, Phase::paused(Reason::user));

  // Resume with power saver still on: indexing at once, paused again within about a second.
  indexer->resume();
  EXPECT_EQ(indexer->currentProgress().phase, Phase::indexing());
  ASSERT_TRUE(eventually(
      [&] { return indexer->currentProgress().phase == Phase::paused(Reason::lowPower); },
      std::chrono::seconds(3)));

  // Indexing anyway in power saver: the heat still holds it.
  indexer->ignoreLowPower = true;
  indexer->resume();
  ASSERT_TRUE(
      eventually([&] { return indexer->currentProgress().phase == Phase::paused(Reason::hot); },
                 std::chrono::seconds(3)));
  EXPECT_EQ(library->totals().indexed, 0);

  // Fair does not pause.
  machine->setZone(0, 75);
  ASSERT_TRUE(eventually([&] { return library->totals().indexed == 2; }));
  indexer->waitUntilIdle();
  EXPECT_EQ(indexer->currentProgress().phase, Phase::idle());
  EXPECT_TRUE(sawPhase(reportsCopy(), Phase::paused(Reason::hot)));
}

TEST_F(IndexerTest, VideosInTheFairStateAreIndexedAndCriticalPauses) {
  const auto folder = makeFolder("Movies");
  addVideo(folder, "a.mp4");
  addRoot(folder);
  machine->setZone(0, 101);
  auto indexer = makeIndexer();
  indexer->run();
  ASSERT_TRUE(
      eventually([&] { return indexer->currentProgress().phase == Phase::paused(Reason::hot); }));
  machine->setZone(0, 72);
  ASSERT_TRUE(eventually([&] { return library->totals().indexed == 1; }));
  indexer->waitUntilIdle();
  EXPECT_GE(library->totals().frames, 2);
}

TEST_F(IndexerTest, ReportsAtMostFourTimesASecondWhileIndexing) {
  const auto folder = makeFolder("Pictures");
  addPhotos(folder, 160);
  addRoot(folder);
  auto indexer = makeIndexer();
  recordReports(*indexer);
  indexer->run();
  indexer->waitUntilIdle();
  ASSERT_EQ(library->totals().indexed, 160);

  const auto all = reportsCopy();
  std::vector<std::chrono::steady_clock::time_point> indexing;
  for (const auto& report : all) {
    if (report.progress.phase == Phase::indexing()) indexing.push_back(report.at);
  }
  ASSERT_GE(indexing.size(), 2u);
  const auto span = indexing.back() - indexing.front();
  // Each report was called for several times per file; these are the ones let through.
  for (std::size_t i = 1; i < indexing.size(); ++i) {
    EXPECT_GE(indexing[i] - indexing[i - 1], std::chrono::milliseconds(200)) << i;
  }
  for (std::size_t i = 0; i + 4 < indexing.size(); ++i) {
    EXPECT_GE(indexing[i + 4] - indexing[i], std::chrono::milliseconds(950)) << i;
  }
  EXPECT_LE(static_cast<double>(indexing.size()),
            4 * std::chrono::duration<double>(span).count() + 1.5);

  // Three measured files give an estimate, and the end of the run clears it.
  bool sawEstimate = false;
  for (const auto& report : all) {
    if (report.progress.secondsLeft) {
      sawEstimate = true;
      EXPECT_GE(report.progress.doneFiles, 3);
      EXPECT_GE(*report.progress.secondsLeft, 0);
    }
  }
  EXPECT_TRUE(sawEstimate);
  EXPECT_FALSE(indexer->currentProgress().secondsLeft);
}

}  // namespace
}  // namespace quillmere::test
