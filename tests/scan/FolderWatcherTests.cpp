// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <thread>
#include <utility>

#include "scan/FolderWatcher.h"
#include "support/TempDirectory.h"

namespace quillmere {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Ids = std::set<std::int64_t>;

// Collects reports as they arrive on the watcher's thread.
class Reports {
 public:
  FolderWatcher::OnChange callback() {
    return [this](const Ids& ids) {
      std::lock_guard lock(mutex_);
      reports_.push_back({Clock::now(), ids});
      changed_.notify_all();
    };
  }
  // Waits up to timeout for at least count reports; returns how many there are.
  std::size_t waitFor(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return reports_.size() >= count; });
    return reports_.size();
  }
  std::vector<std::pair<Clock::time_point, Ids>> all() {
    std::lock_guard lock(mutex_);
    return reports_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::pair<Clock::time_point, Ids>> reports_;
};

// Reports whose first one holds the watcher's thread until release().
class HeldReports : public Reports {
 public:
  FolderWatcher::OnChange callback() {
    return [this, record = Reports::callback()](const Ids& ids) {
      record(ids);
      std::unique_lock lock(mutex_);
      if (std::exchange(held_, true)) return;
      released_.wait_for(lock, 30s, [&] { return go_; });
    };
  }
  void release() {
    std::lock_guard lock(mutex_);
    go_ = true;
    released_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool held_ = false;
  bool go_ = false;
};

void save(const fs::path& file, const std::string& text = "data") {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text;
}

// Watches the roots and changes a file in `changed`: the report of that change, the first,
// then holds the watcher's thread until the reports are released.
void holdFirstReport(FolderWatcher& watcher, HeldReports& reports,
                     const std::map<std::int64_t, std::string>& roots, const fs::path& changed) {
  watcher.watch(roots);
  watcher.sync();
  save(changed / "start.jpg");
  ASSERT_EQ(reports.waitFor(1, 3s), 1u);
}

TEST(FolderWatcherConcurrency, ThreeSavesGiveOneReportAfterTheQuietPeriod) {
  test::TempDirectory dir;
  Reports reports;
  FolderWatcher watcher(reports.callback());
  watcher.watch({{7, dir.path().string()}});
  watcher.sync();
  save(dir / "a.jpg", "1");
  std::this_thread::sleep_for(900ms);
  save(dir / "a.jpg", "12");
  std::this_thread::sleep_for(900ms);
  save(dir / "a.jpg", "123");
  const auto lastSave = Clock::now();
  ASSERT_EQ(reports.waitFor(1, 6s), 1u);
  const auto first = reports.all().at(0);
  EXPECT_EQ(first.second, Ids{7});
  const double after = std::chrono::duration<double>(first.first - lastSave).count();
  EXPECT_GT(after, 2.7);
  EXPECT_LT(after, 5.0);  // generous: a loaded machine may be slow to run the thread
  // Nothing more follows.
  EXPECT_EQ(reports.waitFor(2, 3500ms), 1u);
}

TEST(FolderWatcherConcurrency, IgnoresHiddenLastComponentsOnly) {
  test::TempDirectory dir;
  Reports reports;
  FolderWatcher watcher(reports.callback(), 0.5);
  fs::create_directories(dir / "root" / ".cache");
  watcher.watch({{1, (dir / "root").string()}});
  watcher.sync();
  save(dir / "root" / ".DS_Store");
  EXPECT_EQ(reports.waitFor(1, 1500ms), 0u);
  // Inside a hidden folder, the file's own name is what counts.
  save(dir / "root" / ".cache" / "x.jpg");
  ASSERT_EQ(reports.waitFor(1, 3s), 1u);
  EXPECT_EQ(reports.all()[0].second, Ids{1});
}

TEST(FolderWatcherConcurrency, MatchesRootsByWholeComponentsAndGroupsThem) {
  test::TempDirectory dir;
  fs::create_directories(dir / "a" / "b");
  fs::create_directories(dir / "a" / "bc");
  fs::create_directories(dir / "other");
  Reports reports;
  FolderWatcher watcher(reports.callback(), 0.8);
  watcher.watch({{3, (dir / "a" / "b").string()}, {9, (dir / "other").string() + "/"}});
  watcher.sync();
  save(dir / "a" / "bc" / "x.jpg");  // under no root
  EXPECT_EQ(reports.waitFor(1, 1500ms), 0u);
  save(dir / "a" / "b" / "x.jpg");
  save(dir / "other" / "deep" / "y.jpg");
  ASSERT_EQ(reports.waitFor(1, 3s), 1u);
  EXPECT_EQ(reports.all()[0].second, (Ids{3, 9}));
}

TEST(FolderWatcherConcurrency, WatchesSubdirectoriesCreatedLater) {
  test::TempDirectory dir;
  Reports reports;
  FolderWatcher watcher(reports.callback(), 0.5);
  watcher.watch({{5, dir.path().string()}});
  watcher.sync();
  EXPECT_EQ(watcher.watchedDirectories(), 1u);
  fs::create_directories(dir / "new" / "inner");
  ASSERT_EQ(reports.waitFor(1, 3s), 1u);
  EXPECT_EQ(watcher.watchedDirectories(), 3u);
  save(dir / "new" / "inner" / "a.jpg");
  ASSERT_EQ(reports.waitFor(2, 3s), 2u);
  EXPECT_EQ(reports.all()[1].second, Ids{5});
}

TEST(FolderWatcherConcurrency, KeepsTheStreamForTheSameMapAndReplacesItForAnother) {
  test::TempDirectory dir;
  fs::create_directories(dir / "one");
  fs::create_directories(dir / "two");
  Reports reports;
  FolderWatcher watcher(reports.callback(), 0.5);
  watcher.watch({{1, (dir / "one").string()}});
  watcher.sync();
  fs::create_directories(dir / "one" / "sub");
  ASSERT_EQ(reports.waitFor(1, 3s), 1u);
  // The same map again: the watch on the new subfolder survives.
  watcher.watch({{1, (dir / "one").string()}});
  watcher.sync();
  EXPECT_EQ(watcher.watchedDirectories(), 2u);
  save(dir / "one" / "sub" / "a.jpg");
  ASSERT_EQ(reports.waitFor(2, 3s), 2u);

  watcher.watch({{2, (dir / "two").string()}});
  watcher.sync();
  save(dir / "one" / "b.jpg");
  save(dir / "two" / "c.jpg");
  ASSERT_EQ(reports.waitFor(3, 3s), 3u);
  EXPECT_EQ(reports.all()[2].second, Ids{2});

  watcher.watch({});
  watcher.sync();
  EXPECT_EQ(watcher.watchedDirectories(), 0u);
  save(dir / "two" / "d.jpg");
  EXPECT_EQ(reports.waitFor(4, 1500ms), 3u);
}

TEST(FolderWatcherConcurrency, QueueOverflowCountsAsAChangeUnderEveryRoot) {
  std::ifstream limitFile("/proc/sys/fs/inotify/max_queued_events");
  long limit = 0;
  limitFile >> limit;
  if (limit <= 0 || limit > 200000) GTEST_SKIP() << "inotify queue limit " << limit;
  test::TempDirectory dir;
  fs::create_directories(dir / "busy");
  fs::create_directories(dir / "quiet");
  // The first report holds the watcher's thread while the kernel queue overflows.
  HeldReports reports;
  FolderWatcher watcher(reports.callback(), 0.2);
  ASSERT_NO_FATAL_FAILURE(
      holdFirstReport(watcher, reports,
                      {{1, (dir / "busy").string()}, {2, (dir / "quiet").string()}}, dir / "busy"));
  EXPECT_EQ(reports.all()[0].second, Ids{1});
  // Two events a file (create, close): enough files to overflow the queue.
  for (long i = 0; i < limit / 2 + 200; ++i) {
    std::ofstream(dir / "busy" / ("f" + std::to_string(i))).put('x');
  }
  reports.release();
  ASSERT_EQ(reports.waitFor(2, 10s), 2u);
  EXPECT_EQ(reports.all()[1].second, (Ids{1, 2}));
}

// Watches follow directories: a root moved aside and made anew is watched at its path again,
// and what changes in the old directory is no longer the root's.
TEST(FolderWatcherConcurrency, ARootReplacedByANewDirectoryIsWatchedAgain) {
  test::TempDirectory dir;
  fs::create_directories(dir / "Photos" / "sub");
  Reports reports;
  FolderWatcher watcher(reports.callback(), 0.3);
  watcher.watch({{4, (dir / "Photos").string()}});
  watcher.sync();
  fs::rename(dir / "Photos", dir / "Photos.old");
  fs::create_directories(dir / "Photos");
  ASSERT_EQ(reports.waitFor(1, 3s), 1u);
  EXPECT_EQ(reports.all()[0].second, Ids{4});
  save(dir / "Photos.old" / "sub" / "a.jpg");
  save(dir / "Photos.old" / "b.jpg");
  EXPECT_EQ(reports.waitFor(2, 1500ms), 1u);
  save(dir / "Photos" / "c.jpg");
  ASSERT_EQ(reports.waitFor(2, 3s), 2u);
  EXPECT_EQ(reports.all()[1].second, Ids{4});
  EXPECT_EQ(watcher.watchedDirectories(), 1u);
}

// A change made while the watcher is busy, with a new map of roots queued behind it, is
// still reported once the map is applied.
TEST(FolderWatcherConcurrency, ChangesMadeWhileTheRootsChangeAreKept) {
  test::TempDirectory dir;
  for (const auto* name : {"a", "b", "c"}) fs::create_directories(dir / name);
  HeldReports reports;
  FolderWatcher watcher(reports.callback(), 0.2);
  ASSERT_NO_FATAL_FAILURE(holdFirstReport(
      watcher, reports, {{1, (dir / "a").string()}, {3, (dir / "c").string()}}, dir / "c"));
  save(dir / "a" / "x.jpg");
  watcher.watch({{1, (dir / "a").string()}, {2, (dir / "b").string()}, {3, (dir / "c").string()}});
  std::this_thread::sleep_for(100ms);  // the kernel has queued the change
  reports.release();
  ASSERT_EQ(reports.waitFor(2, 3s), 2u);
  EXPECT_EQ(reports.all()[1].second, Ids{1});
  EXPECT_EQ(watcher.watchedDirectories(), 3u);
}

TEST(FolderWatcherConcurrency, MissingRootIsNoError) {
  test::TempDirectory dir;
  Reports reports;
  FolderWatcher watcher(reports.callback(), 0.3);
  watcher.watch({{1, (dir / "missing").string()}, {2, dir.path().string()}});
  watcher.sync();
  EXPECT_EQ(watcher.watchedDirectories(), 1u);
  save(dir / "a.jpg");
  ASSERT_EQ(reports.waitFor(1, 3s), 1u);
  EXPECT_EQ(reports.all()[0].second, Ids{2});
}

}  // namespace
}  // namespace quillmere
