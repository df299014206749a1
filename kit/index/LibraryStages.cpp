// SPDX-License-Identifier: GPL-3.0-or-later
// The library's rows of the indexer's stages, and which files each stage has done.
#include <algorithm>
#include <string>

#include "index/Library.h"

namespace quillmere {

std::vector<MediaFile> Library::lacking(std::string_view stage,
                                        const std::set<std::int64_t>& roots) {
  std::vector<std::int64_t> ids;
  db_->query(
      "SELECT id FROM files WHERE state=? AND id NOT IN "
      "(SELECT file_id FROM stages_done WHERE stage=?) ORDER BY id",
      {rawValue(FileState::indexed), std::string(stage)},
      [&](const SQLite::Row& row) { ids.push_back(row.integer(0)); });
  std::vector<MediaFile> list;
  for (const auto& file : filesByID(ids)) {
    if (file && file->state == FileState::indexed && roots.contains(file->rootID)) {
      list.push_back(*file);
    }
  }
  return list;
}

bool Library::saveStage(const MediaFile& file, const StageRows& rows) {
  MutexLock serial(writeLock_);
  return db_->transaction([&] {
    bool current = false;
    db_->query("SELECT 1 FROM files WHERE id=? AND size=? AND mtime=? AND state=?",
               {file.id, file.size, file.mtime, rawValue(FileState::indexed)},
               [&](const SQLite::Row&) { current = true; });
    if (!current) return false;
    db_->run("DELETE FROM stage_rows WHERE file_id=? AND stage=?", {file.id, rows.stage});
    for (const StageRow& row : rows.rows) {
      db_->run("INSERT INTO stage_rows(file_id, stage, t, data) VALUES(?,?,?,?)",
               {file.id, rows.stage, row.time, row.data});
    }
    indexText(file.id, rows);
    indexFaces(file.id, rows);
    db_->run("INSERT OR IGNORE INTO stages_done(file_id, stage) VALUES(?,?)",
             {file.id, rows.stage});
    return true;
  });
}

std::vector<Library::StageRow> Library::stageRows(std::int64_t fileID, std::string_view stage) {
  std::vector<StageRow> rows;
  try {
    db_->query("SELECT t, data FROM stage_rows WHERE file_id=? AND stage=? ORDER BY t, rowid",
               {fileID, std::string(stage)}, [&](const SQLite::Row& row) {
                 rows.push_back({.time = row.real(0), .data = row.blob(1).value_or(Bytes{})});
               });
  } catch (const std::exception&) {
    // What was read is returned.
  }
  return rows;
}

}  // namespace quillmere
