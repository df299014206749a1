// SPDX-License-Identifier: GPL-3.0-or-later
// A library file in a fresh directory, with helpers to fill it and to take exact snapshots
// of what the database and the memory of a Library hold.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "index/Library.h"
#include "support/TempDirectory.h"

namespace quillmere::test {

// Every row of every table, as text, in id order.
std::vector<std::string> databaseRows(SQLite& db);

// The memory of a Library: maps and every live vector row with its values.
struct MemorySnapshot {
  std::vector<Root> roots;
  std::vector<MediaFile> files;                                         // by id
  std::vector<std::pair<VectorIndex::Row, std::vector<Half>>> vectors;  // by file id, row order
  std::size_t count = 0;
  bool operator==(const MemorySnapshot&) const = default;
};
// fileIDs: every file id whose vector rows to include (besides those of cached files).
MemorySnapshot memorySnapshot(Library& library, const std::vector<std::int64_t>& fileIDs = {});

// A deterministic vector of dim halves, different for every seed.
std::vector<Half> testVector(std::size_t dim, int seed);
FrameRecord testFrame(std::size_t dim, int seed, double time, std::optional<Bytes> thumb = {});

class LibraryTest : public ::testing::Test {
 protected:
  static constexpr std::size_t dim = 20;  // not a multiple of 16 on purpose
  static constexpr const char* signature = "test/model@224";

  std::unique_ptr<Library> open(const std::string& modelSignature = signature) {
    return std::make_unique<Library>(filePath, dim, modelSignature);
  }
  // A root with the given listing applied.
  Root addRootWithFiles(Library& library, const std::string& path,
                        const std::vector<ScannedFile>& entries);
  // The cached file at relPath under root (fails the test when absent).
  MediaFile fileAt(Library& library, std::int64_t rootID, const std::string& relPath);
  // The cached file with that id (fails the test when absent).
  MediaFile cached(Library& library, std::int64_t id);
  std::int64_t countRows(Library& library, const std::string& table);

  TempDirectory dir;
  std::filesystem::path filePath = dir / "Library.sqlite";
};

inline ScannedFile photo(const std::string& relPath, std::int64_t size, double mtime) {
  return {.relPath = relPath, .kind = MediaKind::photo, .size = size, .mtime = mtime};
}
inline ScannedFile video(const std::string& relPath, std::int64_t size, double mtime) {
  return {.relPath = relPath, .kind = MediaKind::video, .size = size, .mtime = mtime};
}

}  // namespace quillmere::test
