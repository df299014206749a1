// SPDX-License-Identifier: GPL-3.0-or-later
// The text index: each line read in a stored picture, folded for search, in an FTS5 table
// with the trigram tokenizer so that any part of a line of three characters or more is
// found. Triggers keep it in step with the text stage's rows: a row deleted (a file removed,
// edited or read again) takes its lines along, and a line deleted takes its index entry.
#include <string>

#include "core/PictureText.h"
#include "core/TextFolding.h"
#include "index/Library.h"

namespace quillmere {
namespace {

// text_search reads its text from text_lines (external content), so each folded line is
// stored once.
constexpr const char* textIndexScript =
    "CREATE TABLE IF NOT EXISTS text_lines(id INTEGER PRIMARY KEY, file_id INTEGER NOT NULL "
    "REFERENCES files(id) ON DELETE CASCADE, t REAL NOT NULL, line INTEGER NOT NULL, "
    "folded TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS text_lines_frame ON text_lines(file_id, t);"
    "CREATE VIRTUAL TABLE IF NOT EXISTS text_search USING fts5(folded, content='text_lines', "
    "content_rowid='id', tokenize='trigram');"
    "CREATE TRIGGER IF NOT EXISTS text_line_added AFTER INSERT ON text_lines BEGIN "
    "INSERT INTO text_search(rowid, folded) VALUES(new.id, new.folded); END;"
    "CREATE TRIGGER IF NOT EXISTS text_line_gone AFTER DELETE ON text_lines BEGIN "
    "INSERT INTO text_search(text_search, rowid, folded) VALUES('delete', old.id, old.folded); "
    "END;"
    "CREATE TRIGGER IF NOT EXISTS text_row_gone AFTER DELETE ON stage_rows "
    "WHEN old.stage='text' BEGIN "
    "DELETE FROM text_lines WHERE file_id=old.file_id AND t=old.t; END;";

void insertLines(SQLite& db, std::int64_t fileID, double time, std::span<const std::uint8_t> data) {
  const PictureText text = PictureText::decoded(data);
  for (std::size_t i = 0; i < text.lines.size(); ++i) {
    std::string folded = TextFolding::folded(text.lines[i].text);
    if (folded.empty()) continue;
    db.run("INSERT INTO text_lines(file_id, t, line, folded) VALUES(?,?,?,?)",
           {fileID, time, static_cast<std::int64_t>(i), std::move(folded)});
  }
}

// An FTS5 string: in double quotes, a double quote doubled.
std::string quoted(const std::string& piece) {
  std::string out = "\"";
  for (const char c : piece) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

bool Library::lacksTextIndex() {
  bool has = false;
  db_->query("SELECT 1 FROM sqlite_master WHERE type='table' AND name='text_lines'",
             [&](const SQLite::Row&) { has = true; });
  return !has;
}

void Library::addTextIndex(const UpgradeProgress& onUpgrade) {
  bool indexed = false;
  db_->transaction([&] {
    db_->exec(textIndexScript);
    // Text read before the index existed becomes searchable now.
    db_->query("SELECT file_id, t, data FROM stage_rows WHERE stage=?", {std::string(textStage)},
               [&](const SQLite::Row& row) {
                 indexed = true;
                 row.withBlob(2, [&](std::span<const std::uint8_t> data) {
                   insertLines(*db_, row.integer(0), row.real(1), data);
                   return true;
                 });
               });
    db_->run("INSERT OR REPLACE INTO meta(key, value) VALUES('schema', ?)",
             {std::to_string(schemaVersion)});
  });
  // Only a file with text to index takes long enough to tell.
  if (onUpgrade && indexed) onUpgrade(1);
}

void Library::indexText(std::int64_t fileID, const StageRows& rows) {
  if (rows.stage != textStage) return;
  for (const StageRow& row : rows.rows) insertLines(*db_, fileID, row.time, row.data);
}

std::vector<Library::TextLineRef> Library::linesHolding(std::span<const std::string> pieces,
                                                        std::size_t limit) {
  std::vector<TextLineRef> lines;
  if (!hasTextIndex_ || pieces.empty() || limit == 0) return lines;
  std::string match;
  for (const std::string& piece : pieces) match += (match.empty() ? "" : " OR ") + quoted(piece);
  try {
    db_->query(
        "SELECT l.file_id, l.t, l.line, l.folded FROM text_search s "
        "JOIN text_lines l ON l.id = s.rowid WHERE text_search MATCH ? ORDER BY s.rank LIMIT ?",
        {match, static_cast<std::int64_t>(limit)}, [&](const SQLite::Row& row) {
          lines.push_back({.fileID = row.integer(0),
                           .time = row.real(1),
                           .line = static_cast<int>(row.integer(2)),
                           .folded = row.text(3).value_or("")});
        });
  } catch (const SQLite::Failure&) {
    return {};  // a search without its text part still finds by meaning
  }
  return lines;
}

bool Library::stageDone(std::int64_t fileID, std::string_view stage) {
  bool done = false;
  try {
    db_->query("SELECT 1 FROM stages_done WHERE file_id=? AND stage=?",
               {fileID, std::string(stage)}, [&](const SQLite::Row&) { done = true; });
  } catch (const SQLite::Failure&) {
    return false;
  }
  return done;
}

}  // namespace quillmere
