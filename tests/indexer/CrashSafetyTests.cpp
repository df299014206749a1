// SPDX-License-Identifier: GPL-3.0-or-later
// Indexing is killed at random moments; every time, the library must reopen whole: each
// file pending, indexed with its frames, or failed, and the vector index holding exactly
// the stored frames.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "IndexerFixture.h"
#include "support/LibraryTestAccess.h"
#include "support/MediaFactory.h"

extern char** environ;

namespace quillmere::test {
namespace {

struct Child {
  pid_t pid = 0;
};

Child startChild(const std::filesystem::path& library, const std::filesystem::path& folder) {
  const std::string program = QUILLMERE_INDEXING_CHILD;
  const std::string libraryArg = library.string();
  const std::string folderArg = folder.string();
  const std::string modelArg = (std::filesystem::path(QUILLMERE_RESOURCES_DIR) / "Model").string();
  char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(libraryArg.c_str()),
                  const_cast<char*>(folderArg.c_str()), const_cast<char*>(modelArg.c_str()),
                  nullptr};
  Child child;
  if (posix_spawn(&child.pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
    throw std::runtime_error("cannot start " + program);
  }
  return child;
}

// Kills the child after delay unless it ended before; true when it was killed.
bool killAfter(const Child& child, std::chrono::milliseconds delay, int& exitStatus) {
  const auto end = std::chrono::steady_clock::now() + delay;
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (waitpid(child.pid, &status, WNOHANG) == child.pid) {
      exitStatus = status;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(child.pid, SIGKILL);
  int status = 0;
  waitpid(child.pid, &status, 0);
  exitStatus = status;
  return true;
}

struct Census {
  std::int64_t pending = 0;
  std::int64_t indexed = 0;
  std::int64_t failed = 0;
};

// Opens the library as the application would and checks that nothing is half-stored.
Census checkLibrary(const std::filesystem::path& filePath, const Embedder& embedder) {
  Census census;
  Library library(filePath, static_cast<std::size_t>(embedder.info().dim),
                  embedder.info().signature());
  std::vector<std::string> integrity;
  LibraryTestAccess::db(library).query(
      "PRAGMA integrity_check", [&](const SQLite::Row& row) { integrity.push_back(*row.text(0)); });
  EXPECT_EQ(integrity, std::vector<std::string>{"ok"});

  std::map<std::int64_t, std::int64_t> framesOf;
  std::int64_t validFrames = 0;
  const std::size_t vectorBytes = 2 * static_cast<std::size_t>(embedder.info().dim);
  LibraryTestAccess::db(library).query("SELECT file_id, vec FROM frames",
                                       [&](const SQLite::Row& row) {
                                         ++framesOf[row.integer(0)];
                                         row.withBlob(1, [&](std::span<const std::uint8_t> blob) {
                                           if (blob.size() == vectorBytes) ++validFrames;
                                         });
                                       });
  EXPECT_EQ(static_cast<std::int64_t>(library.vectors().count()), validFrames);

  for (const MediaFile& file : library.allFiles()) {
    const std::int64_t frames = framesOf.contains(file.id) ? framesOf[file.id] : 0;
    switch (file.state) {
      case FileState::pending:
        ++census.pending;
        // A photo has no frame yet; a video in work holds the whole chunks stored so far.
        if (file.kind == MediaKind::photo) {
          EXPECT_EQ(frames, 0) << file.relPath;
        } else {
          EXPECT_EQ(frames % static_cast<std::int64_t>(Indexer::videoChunk), 0) << file.relPath;
        }
        break;
      case FileState::indexed:
        ++census.indexed;
        if (file.kind == MediaKind::photo) {
          EXPECT_EQ(frames, 1) << file.relPath;
        } else {
          EXPECT_GE(frames, 1) << file.relPath;
          EXPECT_GT(file.duration, 0) << file.relPath;
        }
        EXPECT_EQ(library.vectors().vectors(file.id).size(), static_cast<std::size_t>(frames));
        break;
      case FileState::failed:
        ++census.failed;
        EXPECT_EQ(frames, 0) << file.relPath;
        EXPECT_TRUE(file.error && !file.error->empty()) << file.relPath;
        break;
    }
  }
  // No frame belongs to a file the library does not know.
  for (const auto& [fileID, count] : framesOf) EXPECT_TRUE(library.file(fileID)) << fileID;
  return census;
}

TEST_F(IndexerTest, KilledIndexingNeverLeavesAHalfStoredLibrary) {
  const auto folder = makeFolder("Media");
  addPhotos(folder, 40);
  writeRandom(folder / "broken.jpg", 20000, 11);
  addVideo(folder, "one.mp4");
  addVideo(folder, "two.mov");
  const std::int64_t mediaFiles = 43;
  embedder.reset();
  library.reset();
  Embedder model(modelDirectory());

  const auto seed = static_cast<unsigned>(
      std::chrono::steady_clock::now().time_since_epoch().count() & 0xffffffffu);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> delay(20, 900);

  const auto filePath = temp->path() / "Crash" / "Library.sqlite";
  int kills = 0;
  int completions = 0;
  for (int round = 0; kills < 20 && round < 120; ++round) {
    const Child child = startChild(filePath, folder);
    int status = 0;
    const bool killed = killAfter(child, std::chrono::milliseconds(delay(random)), status);
    if (!killed) {
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    }
    if (!std::filesystem::exists(filePath)) continue;  // killed before the library was made
    const Census census = checkLibrary(filePath, model);
    if (HasFailure()) FAIL() << "after round " << round << (killed ? " (killed)" : "");
    if (killed) {
      ++kills;
      EXPECT_LE(census.pending + census.indexed + census.failed, mediaFiles);
    } else {
      ++completions;
      // A finished run leaves nothing pending: 42 indexed and the broken photo failed.
      EXPECT_EQ(census.pending, 0);
      EXPECT_EQ(census.indexed, mediaFiles - 1);
      EXPECT_EQ(census.failed, 1);
      // Start over so that later kills land in the middle of indexing again.
      for (const char* suffix : {"", "-wal", "-shm"}) {
        std::filesystem::remove(filePath.string() + suffix);
      }
    }
  }
  EXPECT_GE(kills, 20);
  RecordProperty("completions", completions);

  // Whatever the kills left, one uninterrupted run finishes the job.
  const Child last = startChild(filePath, folder);
  int status = 0;
  ASSERT_FALSE(killAfter(last, std::chrono::minutes(3), status));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  const Census census = checkLibrary(filePath, model);
  EXPECT_EQ(census.pending, 0);
  EXPECT_EQ(census.indexed, mediaFiles - 1);
  EXPECT_EQ(census.failed, 1);
}

}  // namespace
}  // namespace quillmere::test
