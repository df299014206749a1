// SPDX-License-Identifier: GPL-3.0-or-later
// The command line's progress lines, drawn into a real file from a real indexer's reports.
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "IndexerFixture.h"
#include "ProgressBar.h"

namespace quillmere::test {
namespace {

using Phase = Indexer::Phase;

// A temporary file that a ProgressBar draws into, read back line by line.
class DrawnLines {
 public:
  DrawnLines() : file_(std::tmpfile(), &std::fclose) {}
  std::FILE* file() { return file_.get(); }
  std::vector<std::string> lines() {
    std::fflush(file_.get());
    std::rewind(file_.get());
    std::vector<std::string> lines;
    std::string line;
    for (int c = std::fgetc(file_.get()); c != EOF; c = std::fgetc(file_.get())) {
      if (c != '\n') {
        line += static_cast<char>(c);
        continue;
      }
      lines.push_back(line);
      line.clear();
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
  }

 private:
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;
};

Indexer::Progress progressOf(Phase phase, int doneFiles, int totalFiles, int failed = 0) {
  return {.phase = phase,
          .doneBytes = doneFiles * 1000,
          .totalBytes = totalFiles * 1000,
          .doneFiles = doneFiles,
          .totalFiles = totalFiles,
          .failed = failed};
}

struct DescribeCase {
  const char* name;
  Indexer::Progress progress;
  std::string expected;
};

void PrintTo(const DescribeCase& c, std::ostream* out) {
  *out << c.name;
}

class DescribeCases : public ::testing::TestWithParam<DescribeCase> {};

TEST_P(DescribeCases, SaysWhereTheRunStands) {
  EXPECT_EQ(ProgressBar::describe(GetParam().progress), GetParam().expected);
}

const DescribeCase describeCases[] = {
    {"NothingToDo", progressOf(Phase::idle(), 0, 0), "Up to date"},
    {"Scanning", progressOf(Phase::scanning(), 0, 0), "Scanning"},
    {"Indexing", progressOf(Phase::indexing(), 48, 85),
     "Indexing: 48/85 files, 48.0 KB of 85.0 KB"},
    {"Done", progressOf(Phase::idle(), 85, 85, 2),
     "Up to date: 85/85 files, 85.0 KB of 85.0 KB, 2 failed"},
    {"StoppedShort", progressOf(Phase::idle(), 48, 85),
     "Stopped: 48/85 files, 48.0 KB of 85.0 KB, 37 pending"},
    {"StoppedShortWithFailures", progressOf(Phase::idle(), 48, 85, 3),
     "Stopped: 48/85 files, 48.0 KB of 85.0 KB, 37 pending, 3 failed"},
    {"StoppedByTheLibrary",
     [] {
       auto progress = progressOf(Phase::idle(), 48, 85);
       progress.problem = Indexer::Problem{.refusal = {.detail = "No space left on device"}};
       return progress;
     }(),
     "Stopped: 48/85 files, 48.0 KB of 85.0 KB, 37 pending. The library can't be written: No "
     "space left on device."},
    {"PausedShort", progressOf(Phase::paused(Indexer::PauseReason::user), 48, 85),
     "Paused: 48/85 files, 48.0 KB of 85.0 KB"},
    {"ReadingTextOfOlderFiles",
     [] {
       auto progress = progressOf(Phase::indexing(), 5000, 5000);
       progress.filling = Indexer::Filling{.stage = "text", .done = 1204, .total = 1005000};
       return progress;
     }(),
     "Reading text: 1,204 of 1,005,000"},
};

INSTANTIATE_TEST_SUITE_P(Table, DescribeCases, ::testing::ValuesIn(describeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A run cancelled after its first batch ends idle with files left: its last line must not
// claim the library is up to date.
TEST_F(IndexerTest, ARunStoppedShortEndsWithAStoppedLine) {
  const auto folder = makeFolder("Pictures");
  addPhotos(folder, 20);
  addRoot(folder);
  auto indexer = makeIndexer();
  DrawnLines drawn;
  ProgressBar bar(drawn.file(), false);
  std::mutex drawing;
  Indexer::Progress last;
  indexer->onProgress = [&](const Indexer::Progress& progress) {
    std::lock_guard hold(drawing);
    bar.show(progress);
    last = progress;
  };
  indexer->onFileIndexed = [&](const MediaFile&) { indexer->stop(); };
  indexer->run();
  indexer->waitUntilIdle();
  bar.finish();

  ASSERT_EQ(last.phase, Phase::idle());
  ASSERT_EQ(last.doneFiles, 16);  // the first batch, and nothing after it
  ASSERT_EQ(last.totalFiles, 20);
  const std::vector<std::string> lines = drawn.lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("Stopped: 16/20 files, ", 0), 0u) << lines.back();
  EXPECT_NE(lines.back().find(", 4 pending"), std::string::npos) << lines.back();
  EXPECT_EQ(library->totals().pending, 4);
}

}  // namespace
}  // namespace quillmere::test
