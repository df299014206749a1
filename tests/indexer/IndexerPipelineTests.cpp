// SPDX-License-Identifier: GPL-3.0-or-later
// Whole runs over real media with the demo model and a real library.
#include <algorithm>
#include <array>
#include <atomic>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include <sys/stat.h>

#include "IndexerFixture.h"
#include "IndexingWords.h"
#include "platform/ThreadPriority.h"
#include "scan/FrameSampler.h"
#include "scan/Scanner.h"
#include "support/LibraryTestAccess.h"
#include "support/MediaFactory.h"

namespace quillmere::test {
namespace {

using Phase = Indexer::Phase;

std::vector<Phase> phases(const std::vector<IndexerTest::Report>& reports) {
  std::vector<Phase> seen;
  for (const auto& report : reports) {
    if (seen.empty() || seen.back() != report.progress.phase) seen.push_back(report.progress.phase);
  }
  return seen;
}

TEST_F(IndexerTest, IndexesPhotosInBatchesThenTheVideoAndMakesThemSearchable) {
  const auto folder = makeFolder("Pictures");
  const auto photos = addPhotos(folder, 20);
  addVideo(folder, "clip.mp4");
  const Root root = addRoot(folder);
  auto indexer = makeIndexer();
  recordReports(*indexer);

  // At each stored batch: the file the indexer names, and how many files were indexed then.
  struct Stored {
    MediaFile file;
    std::int64_t indexedThen;
    int niceness;  // of the thread that stored it
  };
  std::mutex storedLock;
  std::vector<Stored> stored;
  indexer->onFileIndexed = [&](const MediaFile& file) {
    const auto indexed = library->totals().indexed;
    std::lock_guard guard(storedLock);
    stored.push_back({file, indexed, ThreadPriority::niceness()});
  };
  indexer->run();
  indexer->waitUntilIdle();

  ASSERT_EQ(stored.size(), 3u);
  EXPECT_EQ(stored[0].indexedThen, 16);
  EXPECT_EQ(stored[1].indexedThen, 20);
  EXPECT_EQ(stored[2].indexedThen, 21);
  // Newest photos first: the first batch ends with the 16th newest, the second with the oldest.
  EXPECT_EQ(stored[0].file.relPath, photos[4].filename().string());
  EXPECT_EQ(stored[1].file.relPath, photos[0].filename().string());
  EXPECT_EQ(stored[2].file.relPath, "clip.mp4");
  EXPECT_EQ(stored[0].niceness, ThreadPriority::backgroundNiceness);
  EXPECT_EQ(stored[2].file.state, FileState::indexed);
  EXPECT_GT(stored[2].file.duration, 3.5);
  EXPECT_EQ(stored[2].file.width, 320);

  const Library::Totals totals = library->totals();
  EXPECT_EQ(totals.indexed, 21);
  EXPECT_EQ(totals.pending, 0);
  EXPECT_GE(totals.frames, 22);  // one per photo, at least two for the 4-second clip

  const Indexer::Progress last = indexer->currentProgress();
  EXPECT_EQ(last.phase, Phase::idle());
  EXPECT_EQ(last.doneFiles, 21);
  EXPECT_EQ(last.totalFiles, 21);
  EXPECT_EQ(last.doneBytes, last.totalBytes);
  EXPECT_EQ(last.totalBytes, totals.indexedBytes);
  EXPECT_EQ(last.failed, 0);
  EXPECT_FALSE(last.secondsLeft);
  EXPECT_FALSE(last.current);
  EXPECT_GT(last.framesPerSecond, 0);

  const auto all = reportsCopy();
  EXPECT_EQ(phases(all), (std::vector<Phase>{Phase::scanning(), Phase::indexing(), Phase::idle()}));
  // The end of a run is reported twice: from the loop and once more, forced.
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(all[all.size() - 2].progress, last);
  EXPECT_EQ(all.back().progress, last);
  // Every stored frame has its thumbnail.
  for (const MediaFile& file : library->files(root.id)) {
    for (const auto& [row, vector] : library->vectors().vectors(file.id)) {
      const auto thumb = library->thumbnail(row.frameID);
      ASSERT_TRUE(thumb) << file.relPath;
      EXPECT_GT(thumb->size(), 100u);
    }
  }

  // Searchable: each photo's own picture finds that photo first (or a copy of its content).
  for (std::size_t i = 0; i < basePhotos.size(); ++i) {
    const FrameSampler::Sampled sampled = FrameSampler::photo(photos[i], Indexer::embedPixels);
    const auto halves = embedder->embed(std::span(&sampled.frames.front().image, 1)).front();
    const std::vector<float> query = floatsFromHalves(halves);
    const auto hits = library->vectors().search(query, 1);
    ASSERT_EQ(hits.size(), 1u);
    const auto found = library->file(hits.front().row.fileID);
    ASSERT_TRUE(found);
    // Photos i, i+8, i+16 share their content.
    const std::string name = found->relPath;
    const int number = std::stoi(name.substr(5, 2));
    EXPECT_EQ(number % static_cast<int>(basePhotos.size()), static_cast<int>(i)) << name;
    EXPECT_GT(hits.front().score, 0.98f);
  }
}

TEST_F(IndexerConcurrency, UndecodablePhotoFailsAloneInsideItsBatch) {
  const auto folder = makeFolder("Pictures");
  addPhotos(folder, 5);
  writeRandom(folder / "broken.jpg", 20000, 7);
  std::filesystem::last_write_time(folder / "broken.jpg",
                                   std::filesystem::file_time_type::clock::now());
  addRoot(folder);
  auto indexer = makeIndexer();
  std::atomic<int> calls = 0;
  std::string lastName;
  indexer->onFileIndexed = [&](const MediaFile& file) {
    ++calls;
    lastName = file.relPath;
  };
  indexer->run();
  indexer->waitUntilIdle();

  EXPECT_EQ(calls.load(), 1);
  EXPECT_EQ(lastName, "photo00.jpg");  // the oldest is the batch's last saved file
  const Library::Totals totals = library->totals();
  EXPECT_EQ(totals.indexed, 5);
  EXPECT_EQ(totals.failed, 1);
  for (const MediaFile& file : library->allFiles()) {
    if (file.relPath != "broken.jpg") continue;
    EXPECT_EQ(file.state, FileState::failed);
    EXPECT_EQ(file.error, std::string("This file can't be read."));
  }
  const auto progress = indexer->currentProgress();
  EXPECT_EQ(progress.failed, 1);
  EXPECT_EQ(progress.doneFiles, 6);

  // A failed file is not tried again by the next run.
  calls = 0;
  indexer->run();
  indexer->waitUntilIdle();
  EXPECT_EQ(calls.load(), 0);
  EXPECT_EQ(library->totals().failed, 1);
}

TEST_F(IndexerTest, VideoDeletedAfterTheScanStaysPendingWithoutBusyRetries) {
  const auto folder = makeFolder("Movies");
  addPhotos(folder, 2);
  const auto video = addVideo(folder, "gone.mp4");
  addRoot(folder);
  auto indexer = makeIndexer();
  std::atomic<bool> deleted = false;
  std::atomic<int> queriesAfterDelete = 0;
  indexer->onFileIndexed = [&](const MediaFile&) {
    if (deleted.exchange(true)) return;
    std::filesystem::remove(video);
    // A request during the run keeps the loop looking for pending files after every file:
    // the vanished one must not keep it busy.
    indexer->run(std::vector<std::int64_t>{});
  };
  indexer->onProgress = [&](const Indexer::Progress&) {
    if (deleted) ++queriesAfterDelete;
  };
  indexer->run();
  ASSERT_TRUE(
      eventually([&] { return indexer->currentProgress().phase == Phase::idle() && deleted; },
                 std::chrono::seconds(60)));
  indexer->waitUntilIdle();

  const auto progress = indexer->currentProgress();
  EXPECT_EQ(progress.failed, 0);
  EXPECT_EQ(progress.doneFiles, 3);
  EXPECT_EQ(progress.totalFiles, 3);
  const auto totals = library->totals();
  EXPECT_EQ(totals.indexed, 2);
  EXPECT_EQ(totals.pending, 1);
  EXPECT_EQ(totals.failed, 0);
  EXPECT_LT(queriesAfterDelete.load(), 100);

  // The next scan sees it gone.
  indexer->run();
  indexer->waitUntilIdle();
  EXPECT_EQ(library->totals().files, 2);
  EXPECT_EQ(library->totals().pending, 0);
}

TEST_F(IndexerTest, UnreachableFolderKeepsItsFilesPendingAndOutOfTheRun) {
  const auto home = makeFolder("Home");
  addPhotos(home, 3);
  const auto drive = makeFolder("Drive");
  addPhotos(drive, 4, "drive");
  addVideo(drive, "drive.mp4");
  addRoot(home);
  const Root external = addRoot(drive);
  auto indexer = makeIndexer();
  std::atomic<int> asked = 0;
  // The drive is there for the scan and unplugged right after it, leaving its empty mount
  // point behind: the owner's answer, not a directory at the path, says what is reachable.
  indexer->reachablePath = [&](const Root& root) -> std::optional<std::filesystem::path> {
    if (root.id != external.id) return root.basePath();
    if (++asked == 1) return root.basePath();
    if (!std::filesystem::exists(temp->path() / "unplugged")) {
      std::filesystem::rename(drive, temp->path() / "unplugged");
      std::filesystem::create_directory(drive);
    }
    return std::nullopt;
  };
  indexer->run();
  indexer->waitUntilIdle();

  const auto progress = indexer->currentProgress();
  EXPECT_EQ(progress.totalFiles, 3);
  EXPECT_EQ(progress.doneFiles, 3);
  EXPECT_EQ(progress.failed, 0);
  const auto onDrive = library->totals(std::set<std::int64_t>{external.id});
  EXPECT_EQ(onDrive.files, 5);  // the scan recorded them
  EXPECT_EQ(onDrive.pending, 5);
  EXPECT_EQ(onDrive.failed, 0);

  // A later scan while it is away changes nothing either.
  indexer->run();
  indexer->waitUntilIdle();
  EXPECT_EQ(library->totals(std::set<std::int64_t>{external.id}).pending, 5);
}

// A library that cannot take writes, made so on the real database (read-only, or full at
// its page limit): the run ends saying why and leaves every file as it was. Two photo
// batches make fewer refusals than end a run early: the end still says why.
TEST_F(IndexerConcurrency, RefusedWritesEndTheRunSayingWhyAndLeaveEveryFileAsItWas) {
  const auto folder = makeFolder("Pictures");
  const int count = 2 * static_cast<int>(Indexer::photoBatch);
  addPhotos(folder, count);
  const Root root = addRoot(folder);
  library->applyScan(root.id, Scanner::scan(folder, [] { return false; }).files);
  std::int64_t pages = 0;
  LibraryTestAccess::db(*library).query("PRAGMA page_count",
                                        [&](const SQLite::Row& row) { pages = row.integer(0); });
  auto indexer = makeIndexer();
  for (const auto& [refuse, allow, reason] : std::vector<std::array<std::string, 3>>{
           {"PRAGMA query_only=1", "PRAGMA query_only=0", "the library file in # is read-only"},
           {"PRAGMA max_page_count=" + std::to_string(pages), "PRAGMA max_page_count=1073741823",
            "the disk holding # is full"}}) {
    SCOPED_TRACE(refuse);
    LibraryTestAccess::db(*library).exec(refuse);
    indexer->run(std::vector<std::int64_t>{});
    auto idle = std::async(std::launch::async, [&] { indexer->waitUntilIdle(); });
    if (idle.wait_for(std::chrono::seconds(40)) == std::future_status::timeout) {
      indexer->stop();
      ADD_FAILURE() << "the run went on: " << indexer->currentProgress().doneFiles << " files done";
    }
    idle.wait();
    const auto progress = indexer->currentProgress();
    const auto why = reason.substr(0, reason.find('#')) + temp->path().string() +
                     reason.substr(reason.find('#') + 1);
    ASSERT_TRUE(progress.problem);
    EXPECT_EQ(IndexingWords::problem(*progress.problem), "The library can't be written: " + why +
                                                             ". " + std::to_string(count) +
                                                             " files wait to be indexed.");
    EXPECT_EQ(progress.failed, 0);
    EXPECT_EQ(progress.doneFiles, 0);  // none was finished: each is still to do
    EXPECT_EQ(library->totals().pending, count);
    EXPECT_EQ(library->totals().frames, 0);
    LibraryTestAccess::db(*library).exec(allow);
  }
  indexer->run(std::vector<std::int64_t>{});
  indexer->waitUntilIdle();
  EXPECT_FALSE(indexer->currentProgress().problem);
  EXPECT_EQ(library->totals().indexed, count);
}

TEST_F(IndexerConcurrency, WaitUntilIdleWaitsForAScanAskedForDuringARunThatOutlivesIt) {
  const auto first = makeFolder("First");
  addPhotos(first, 20);
  const auto later = makeFolder("Later");
  addPhotos(later, 2, "later");
  const Root a = addRoot(first);
  const Root b = addRoot(later);
  auto indexer = makeIndexer();
  std::mutex lock;
  std::optional<std::thread::id> runThread;
  std::atomic<bool> runEnded = false;
  indexer->onProgress = [&](const Indexer::Progress& progress) {
    std::lock_guard guard(lock);
    if (!runThread) runThread = std::this_thread::get_id();
    if (progress.phase == Indexer::Phase::idle()) runEnded = true;
  };
  // The scan asked for during the run reads its folder only after the run has ended.
  indexer->reachablePath = [&](const Root& root) -> std::optional<std::filesystem::path> {
    bool fromTheScan = false;
    {
      std::lock_guard guard(lock);
      fromTheScan = root.id == b.id && runThread && *runThread != std::this_thread::get_id();
    }
    if (fromTheScan) eventually([&] { return runEnded.load(); }, std::chrono::seconds(20));
    return root.basePath();
  };
  indexer->run(std::vector<std::int64_t>{a.id});
  ASSERT_TRUE(eventually(
      [&] { return indexer->currentProgress().phase.kind == Indexer::Phase::Kind::indexing; }));
  indexer->run(std::vector<std::int64_t>{b.id});
  indexer->waitUntilIdle();
  EXPECT_TRUE(runEnded);
  const auto totals = library->totals();
  EXPECT_EQ(totals.files, 22);
  EXPECT_EQ(totals.indexed, 22);
  EXPECT_EQ(totals.pending, 0);
}

TEST_F(IndexerTest, RunsWithoutFoldersOrWithAnEmptyListSkipTheScan) {
  auto indexer = makeIndexer();
  recordReports(*indexer);
  indexer->run();
  indexer->waitUntilIdle();
  auto seen = reportsCopy();
  EXPECT_EQ(phases(seen), std::vector<Phase>{Phase::idle()});
  EXPECT_GE(seen.size(), 2u);

  const auto folder = makeFolder("Pictures");
  addPhotos(folder, 2);
  const Root root = addRoot(folder);
  std::vector<ScannedFile> listing;
  for (const auto& file : Scanner::scan(folder, [] { return false; }).files)
    listing.push_back(file);
  library->applyScan(root.id, listing);
  {
    std::lock_guard guard(reportsLock);
    reports.clear();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // past the report throttle
  indexer->run(std::vector<std::int64_t>{});
  indexer->waitUntilIdle();
  EXPECT_EQ(phases(reportsCopy()), (std::vector<Phase>{Phase::indexing(), Phase::idle()}));
  EXPECT_EQ(library->totals().indexed, 2);
}

TEST_F(IndexerConcurrency, RequestsDuringARunJoinItAndNoneIsLostAtItsEnd) {
  const auto first = makeFolder("First");
  addPhotos(first, 20);
  const auto second = makeFolder("Second");
  const Root one = addRoot(first);
  const Root two = addRoot(second);
  auto indexer = makeIndexer();
  recordReports(*indexer);
  std::atomic<bool> requested = false;
  std::atomic<bool> lateRequested = false;
  indexer->onProgress = [&](const Indexer::Progress& progress) {
    {
      std::lock_guard guard(reportsLock);
      reports.push_back({progress, std::chrono::steady_clock::now()});
    }
    // A request made when the loop has taken its last look, before the run has ended.
    if (progress.phase == Phase::idle() && requested && !lateRequested.exchange(true)) {
      addPhotos(first, 1, "late");
      indexer->run(std::vector<std::int64_t>{one.id});
    }
  };
  // A request while the second batch is under way.
  indexer->onFileIndexed = [&](const MediaFile&) {
    if (requested.exchange(true)) return;
    addPhotos(second, 3, "second");
    indexer->run(std::vector<std::int64_t>{two.id});
  };
  indexer->run(std::vector<std::int64_t>{one.id});
  ASSERT_TRUE(eventually([&] { return library->totals().indexed == 24; }))
      << library->totals().pending << " pending";
  indexer->waitUntilIdle();
  EXPECT_TRUE(lateRequested);
  // The second folder's files joined the first run's counts without a second loop.
  const auto all = reportsCopy();
  const auto firstIdle = std::find_if(
      all.begin(), all.end(), [](const auto& r) { return r.progress.phase == Phase::idle(); });
  ASSERT_NE(firstIdle, all.end());
  EXPECT_EQ(firstIdle->progress.totalFiles, 23);
  EXPECT_EQ(firstIdle->progress.doneFiles, 23);
}

// Requests for one folder during a run, with files made between them: scans of it on two
// threads could apply an older listing after a newer one, so they take turns.
TEST_F(IndexerConcurrency, RequestsForOneFolderScanItOneAtATime) {
  const auto folder = makeFolder("Pictures");
  addPhotos(folder, 20);
  const Root root = addRoot(folder);
  library->applyScan(root.id, Scanner::scan(folder, [] { return false; }).files);
  auto indexer = makeIndexer();
  std::mutex lock;
  std::optional<std::thread::id> runThread;
  int inFlight = 0, most = 0;
  indexer->onFileIndexed = [&](const MediaFile&) {
    {
      std::lock_guard guard(lock);
      if (runThread) return;
      runThread = std::this_thread::get_id();
    }
    for (int i = 0; i < 5; ++i) {
      addPhotos(folder, 1, "new" + std::to_string(i));
      indexer->run(std::vector<std::int64_t>{root.id});
    }
  };
  // A scan off the run's thread takes a while to find its folder.
  indexer->reachablePath = [&](const Root& asked) -> std::optional<std::filesystem::path> {
    std::unique_lock guard(lock);
    if (!runThread || *runThread == std::this_thread::get_id()) return asked.basePath();
    most = std::max(most, ++inFlight);
    guard.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    guard.lock();
    --inFlight;
    return asked.basePath();
  };
  indexer->run(std::vector<std::int64_t>{});
  ASSERT_TRUE(eventually([&] { return library->totals().indexed == 25; }));
  indexer->waitUntilIdle();
  EXPECT_EQ(most, 1);
  EXPECT_EQ(library->totals().files, 25);
}

TEST_F(IndexerConcurrency, StopLeavesTheVideoPendingAndTheDestructorJoinsARunningTask) {
  const auto folder = makeFolder("Movies");
  makePatternClip(folder / "a.mp4", 40, {.width = 160, .height = 90, .fps = 10});
  addRoot(folder);
  {
    auto indexer = makeIndexer();
    indexer->run();
    ASSERT_TRUE(eventually([&] { return indexer->currentProgress().current == "a.mp4"; },
                           std::chrono::seconds(30)));
    indexer->stop();
    indexer->waitUntilIdle();
    EXPECT_EQ(indexer->currentProgress().phase, Phase::idle());
    EXPECT_EQ(library->totals().pending, 1);
    EXPECT_EQ(library->totals().frames % Indexer::videoChunk, 0);  // whole chunks only
  }
  addPhotos(folder, 30);
  {
    auto indexer = makeIndexer();
    indexer->run();
    // Going away mid-run stops and joins the run's thread.
  }
  const auto totals = library->totals();
  EXPECT_EQ(totals.failed, 0);
  EXPECT_EQ(totals.indexed + totals.pending, totals.files);
}

TEST_F(IndexerTest, AStoppedVideoKeepsItsStoredChunksAndTheNextRunResumesAfterThem) {
  // One kept frame per scene; every eighth scene lasts 7 s, so each chunk ends on a frame
  // whose next candidates show the same picture and are dropped only against that frame.
  const char* colours[] = {"0xDC1E1E", "0x1EDC1E", "0x1E1EDC", "0xF0F0F0", "0x101010"};
  std::vector<Scene> scenes;
  for (int i = 0; i < 60; ++i) scenes.push_back({i % 8 == 7 ? 7.0 : 2.0, colours[i % 5]});
  const auto folder = makeFolder("Movies");
  // Padded to a constant bit rate: flat colours alone stay under the scanner's least size.
  makeSceneClip(folder / "long.mp4", scenes,
                {.fps = 5,
                 .extraOutputArgs = "-b:v 100k -minrate 100k -maxrate 100k -bufsize 100k "
                                    "-x264-params nal-hrd=cbr"});
  std::vector<double> whole;
  for (const auto& frame : FrameSampler::video(folder / "long.mp4").frames) {
    whole.push_back(frame.time);
  }
  ASSERT_EQ(whole.size(), 60u);
  addRoot(folder);
  const auto stored = [&] {
    std::map<std::int64_t, double> rows;  // frame id to time
    LibraryTestAccess::db(*library).query("SELECT id, t FROM frames", [&](const SQLite::Row& row) {
      rows[row.integer(0)] = row.real(1);
    });
    return rows;
  };

  auto indexer = makeIndexer();
  indexer->run();
  ASSERT_TRUE(eventually([&] { return library->vectors().count() >= Indexer::videoChunk; }));
  indexer->stop();
  indexer->waitUntilIdle();
  const auto before = stored();
  ASSERT_EQ(library->totals().pending, 1);
  ASSERT_LT(before.size(), whole.size());
  EXPECT_EQ(before.size() % Indexer::videoChunk, 0u);

  indexer->run();
  indexer->waitUntilIdle();
  EXPECT_EQ(library->totals().indexed, 1);
  const auto after = stored();
  // The stored chunks stand as they were: neither embedded nor written again.
  for (const auto& [id, time] : before) EXPECT_TRUE(after.contains(id)) << time;
  // Nothing lost, nothing twice: the frames of one uninterrupted pass.
  std::vector<double> times;
  for (const auto& [id, time] : after) times.push_back(time);
  std::sort(times.begin(), times.end());
  ASSERT_EQ(times.size(), whole.size());
  for (std::size_t i = 0; i < times.size(); ++i) EXPECT_NEAR(times[i], whole[i], 1e-6) << i;
  EXPECT_EQ(library->vectors().count(), whole.size());
}

}  // namespace
}  // namespace quillmere::test

namespace quillmere::test {
namespace {

double statMtime(const std::filesystem::path& file) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) return -1;
  return static_cast<double>(info.st_mtim.tv_sec) + info.st_mtim.tv_nsec / 1e9;
}

std::vector<std::int64_t> frameIDs(Library& library) {
  std::vector<std::int64_t> ids;
  LibraryTestAccess::db(library).query(
      "SELECT id FROM frames ORDER BY id",
      [&](const SQLite::Row& row) { ids.push_back(row.integer(0)); });
  return ids;
}

std::optional<CaptureTime> takenOf(const Library& library, const std::string& name) {
  const auto files = library.allFiles();
  return std::find_if(files.begin(), files.end(), [&](auto& f) { return f.relPath == name; })
      ->taken;
}

// A library the second schema wrote (kept in tests/indexer/fixtures: three photos and two
// videos indexed with the demo model), its files made again here with the dates they held.
TEST_F(IndexerTest, ASecondSchemaLibraryGainsCaptureTimesFromItsFilesWithoutEmbeddingAgain) {
  const auto photos = makeFolder("Photos"), videos = makeFolder("Videos");
  addPhotos(temp->path(), 3, "p");
  for (const auto& [from, to, tags] : std::vector<std::array<std::string, 3>>{
           {"p00", "offset", "-DateTimeOriginal='2024:06:01 12:30:45' -OffsetTimeOriginal=+02:00"},
           {"p01", "local", "-DateTimeOriginal='2021:12:24 18:00:00'"},
           {"p02", "plain", ""},
           {"p00", "new", "-DateTimeOriginal='2019:01:02 03:04:05' -OffsetTimeOriginal=-05:00"}}) {
    runCommand("exiftool -q -all= " + tags + " -o " + shellQuoted(photos / (to + ".jpg")) + " " +
               shellQuoted(temp->path() / (from + ".jpg")));
  }
  runCommand("ffmpeg -v error -i " + shellQuoted(baseVideo) +
             " -c copy -metadata creation_time=2023-05-04T10:20:30.000000Z " +
             shellQuoted(videos / "clip.mp4"));
  addVideo(videos, "bare.mp4");

  const auto filePath = temp->path() / "Old.sqlite";
  std::filesystem::copy_file(
      std::filesystem::path(QUILLMERE_SOURCE_DIR) / "tests/indexer/fixtures/library-v2.sqlite",
      filePath);
  {
    // The same files at this test's place: the videos in a second folder.
    SQLite db(filePath.string(), SQLite::Access::readWrite);
    db.run("UPDATE roots SET path=? WHERE id=1", {photos.string()});
    db.run("INSERT INTO roots(id, path, removable, added) VALUES(2, ?, 0, 1)", {videos.string()});
    db.run("UPDATE files SET root_id=2 WHERE rel_path LIKE '%.mp4'");
    for (const std::string name :
         {"offset.jpg", "local.jpg", "plain.jpg", "clip.mp4", "bare.mp4"}) {
      const auto file = (name.ends_with(".mp4") ? videos : photos) / name;
      db.run("UPDATE files SET size=?, mtime=? WHERE rel_path=?",
             {static_cast<std::int64_t>(std::filesystem::file_size(file)), statMtime(file), name});
    }
  }
  library.reset();
  const auto sig = embedder->info().signature();
  // Read beside a writer of its own version, it is loaded as it stands.
  EXPECT_EQ(
      Library(filePath, embedder->info().dim, sig, Library::Opening::readOnly).totals().indexed, 5);
  library = std::make_unique<Library>(filePath, embedder->info().dim, sig);
  ASSERT_TRUE(library->modelMatches());
  const std::vector<std::int64_t> frames = frameIDs(*library);
  ASSERT_EQ(frames.size(), 11u);
  for (const MediaFile& file : library->allFiles()) EXPECT_EQ(file.taken, std::nullopt);
  const auto search = [&] {
    std::vector<std::pair<std::int64_t, float>> found;
    for (const auto& hit : library->vectors().search(embedder->embed("red"), 20))
      found.emplace_back(hit.row.frameID, hit.score);
    std::sort(found.begin(), found.end());  // equal scores come in either order
    return found;
  };
  const auto before = search();

  std::atomic<bool> videosOnline = false;
  auto indexer = makeIndexer();
  indexer->reachablePath = [&](const Root& root) -> std::optional<std::filesystem::path> {
    if (root.id == 2 && !videosOnline) return std::nullopt;
    return Root{.path = root.path}.basePath();
  };
  indexer->run();
  indexer->waitUntilIdle();
  // Only the new photo was embedded; every stored frame kept its id.
  std::vector<std::int64_t> after = frameIDs(*library);
  ASSERT_EQ(after.size(), 12u);
  EXPECT_TRUE(std::equal(frames.begin(), frames.end(), after.begin()));
  EXPECT_EQ(takenOf(*library, "offset.jpg"),
            (CaptureTime{1717237845, 120, TakenSource::exif}));  // 10:30:45 UTC
  EXPECT_EQ(takenOf(*library, "new.jpg"), (CaptureTime{1546416245, -300, TakenSource::exif}));
  EXPECT_EQ(takenOf(*library, "local.jpg")->iso(), "2021-12-24T18:00:00");
  EXPECT_EQ(takenOf(*library, "plain.jpg"), CaptureTime::modified(statMtime(photos / "plain.jpg")));
  EXPECT_EQ(takenOf(*library, "clip.mp4"), std::nullopt);  // its folder is offline

  videosOnline = true;
  indexer->run();
  indexer->waitUntilIdle();
  EXPECT_EQ(frameIDs(*library), after);
  EXPECT_EQ(takenOf(*library, "clip.mp4"), (CaptureTime{1683195630, 0, TakenSource::container}));
  EXPECT_EQ(takenOf(*library, "bare.mp4"), CaptureTime::modified(statMtime(videos / "bare.mp4")));

  // Kept in the file, and searched as before.
  indexer.reset();
  const auto filled = library->allFiles();
  library = std::make_unique<Library>(filePath, embedder->info().dim, sig);
  EXPECT_EQ(library->allFiles(), filled);
  auto again = search();
  std::erase_if(again, [&](const auto& hit) { return hit.first == after.back(); });
  EXPECT_EQ(again, before);
}

}  // namespace
}  // namespace quillmere::test
