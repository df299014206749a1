// SPDX-License-Identifier: GPL-3.0-or-later
#include "LibraryFixture.h"
#include "support/LibraryTestAccess.h"

#include <algorithm>
#include <set>

namespace quillmere::test {

std::vector<std::string> databaseRows(SQLite& db) {
  std::vector<std::string> rows;
  const auto collect = [&](const std::string& sql) {
    db.query(sql, [&](const SQLite::Row& row) { rows.push_back(*row.text(0)); });
  };
  collect("SELECT 'meta|' || key || '|' || ifnull(value, 'NULL') FROM meta ORDER BY key");
  collect(
      "SELECT 'root|' || id || '|' || path || '|' || ifnull(hex(bookmark), 'NULL') || '|' || "
      "ifnull(volume_uuid, 'NULL') || '|' || ifnull(volume_name, 'NULL') || '|' || removable "
      "|| '|' || added FROM roots ORDER BY id");
  collect(
      "SELECT 'file|' || id || '|' || root_id || '|' || rel_path || '|' || kind || '|' || size "
      "|| '|' || mtime || '|' || duration || '|' || width || '|' || height || '|' || state || "
      "'|' || ifnull(error, 'NULL') FROM files ORDER BY id");
  collect(
      "SELECT 'frame|' || id || '|' || file_id || '|' || t || '|' || hex(vec) || '|' || "
      "ifnull(hex(jpeg), 'NULL') FROM frames LEFT JOIN thumbs ON frame_id=id ORDER BY id");
  return rows;
}

MemorySnapshot memorySnapshot(Library& library, const std::vector<std::int64_t>& fileIDs) {
  MemorySnapshot snapshot;
  snapshot.roots = library.roots();
  snapshot.files = library.allFiles();
  std::sort(snapshot.files.begin(), snapshot.files.end(),
            [](const MediaFile& a, const MediaFile& b) { return a.id < b.id; });
  std::set<std::int64_t> ids(fileIDs.begin(), fileIDs.end());
  for (const MediaFile& file : snapshot.files) ids.insert(file.id);
  for (std::int64_t id : ids) {
    for (auto& entry : library.vectors().vectors(id)) snapshot.vectors.push_back(std::move(entry));
  }
  snapshot.count = library.vectors().count();
  return snapshot;
}

std::vector<Half> testVector(std::size_t dim, int seed) {
  std::vector<float> values(dim);
  for (std::size_t i = 0; i < dim; ++i) {
    values[i] = static_cast<float>(((seed * 31 + static_cast<int>(i) * 7) % 97) - 48) / 64.0f;
  }
  values[static_cast<std::size_t>(seed) % dim] = 1.5f;  // one clear peak per seed
  return halvesFromFloats(values);
}

FrameRecord testFrame(std::size_t dim, int seed, double time, std::optional<Bytes> thumb) {
  return {.time = time, .vector = testVector(dim, seed), .thumbnail = std::move(thumb)};
}

Root LibraryTest::addRootWithFiles(Library& library, const std::string& path,
                                   const std::vector<ScannedFile>& entries) {
  Root root = library.addRoot(path, std::nullopt, std::nullopt, std::nullopt, false);
  library.applyScan(root.id, entries);
  return root;
}

MediaFile LibraryTest::fileAt(Library& library, std::int64_t rootID, const std::string& relPath) {
  for (const MediaFile& file : library.files(rootID)) {
    if (file.relPath == relPath) return file;
  }
  ADD_FAILURE() << "no file " << relPath;
  return {};
}

MediaFile LibraryTest::cached(Library& library, std::int64_t id) {
  std::optional<MediaFile> file = library.file(id);
  if (!file) ADD_FAILURE() << "file " << id << " is not cached";
  return file.value_or(MediaFile{});
}

std::int64_t LibraryTest::countRows(Library& library, const std::string& table) {
  std::int64_t n = -1;
  LibraryTestAccess::db(library).query("SELECT count(*) FROM " + table,
                                       [&](const SQLite::Row& row) { n = row.integer(0); });
  return n;
}

}  // namespace quillmere::test
