// SPDX-License-Identifier: GPL-3.0-or-later
// The folder watcher over the hostile folder: link loops and closed directories don't trap
// it, changes under hostile names are reported, changes behind a link out are not.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>

#include "HostileFolder.h"
#include "scan/FolderWatcher.h"
#include "support/MediaFactory.h"
#include "support/TempDirectory.h"

namespace quillmere::test {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

class HostileWatch : public ::testing::Test {
 protected:
  // Waits for the next report; empty when none came in time.
  std::set<std::int64_t> nextReport(std::chrono::milliseconds limit) {
    std::unique_lock hold(lock);
    if (!arrived.wait_for(hold, limit, [&] { return !reports.empty(); })) return {};
    auto first = reports.front();
    reports.erase(reports.begin());
    return first;
  }

  TempDirectory temp;
  std::mutex lock;
  std::condition_variable arrived;
  std::vector<std::set<std::int64_t>> reports;
};

TEST_F(HostileWatch, ReportsChangesUnderHostileNamesAndNothingBehindLinks) {
  HostileFolder folder(temp / "watched \"root\"\n", temp / "outside");
  FolderWatcher watcher(
      [&](const std::set<std::int64_t>& roots) {
        std::lock_guard hold(lock);
        reports.push_back(roots);
        arrived.notify_all();
      },
      0.3);
  watcher.watch({{7, folder.root().string()}});
  watcher.sync();
  // Every real directory, none reached through a link (the loops would never end).
  std::size_t directories = 1;
  for (auto it = fs::recursive_directory_iterator(folder.root(),
                                                  fs::directory_options::skip_permission_denied);
       it != fs::recursive_directory_iterator(); ++it) {
    if (fs::is_directory(it->symlink_status())) ++directories;
  }
  EXPECT_LE(watcher.watchedDirectories(), directories);
  EXPECT_GE(watcher.watchedDirectories(), directories - 2);  // less the two closed ones

  // Behind the link that leads out: not the watcher's business.
  std::ofstream(folder.outside() / "dir/new.jpg") << "x";
  EXPECT_TRUE(nextReport(1500ms).empty());

  // Inside a directory with a newline in its name, and in a renamed folder.
  std::ofstream(folder.root() / "new\nline dir/more.jpg") << "x";
  EXPECT_EQ(nextReport(10s), std::set<std::int64_t>{7});
  folder.changeEverything();
  EXPECT_EQ(nextReport(10s), std::set<std::int64_t>{7});
  while (!nextReport(800ms).empty()) {
  }
  std::ofstream(folder.root() / "renamed dir\xff/sub/late.jpg") << "x";
  EXPECT_EQ(nextReport(10s), std::set<std::int64_t>{7});
}

}  // namespace
}  // namespace quillmere::test
