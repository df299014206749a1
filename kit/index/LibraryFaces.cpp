// SPDX-License-Identifier: GPL-3.0-or-later
// The face index: each face of the face stage's rows with its vector, the people faces are
// grouped into, and the user's choices about them. Triggers keep the faces in step with the
// stage's rows as text_lines are kept; a face gone takes its choices along.
#include <algorithm>
#include <string>

#include "core/PictureFaces.h"
#include "index/Library.h"

namespace quillmere {
namespace {

// face_placed: the person the user put a face with (a name or a merge pins every face of
// the person, a move pins one); face_refused: "not this person".
constexpr const char* faceIndexScript =
    "CREATE TABLE IF NOT EXISTS people(id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT, "
    "hidden INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS faces(id INTEGER PRIMARY KEY AUTOINCREMENT, file_id INTEGER "
    "NOT NULL REFERENCES files(id) ON DELETE CASCADE, t REAL NOT NULL, place INTEGER NOT NULL, "
    "quality REAL NOT NULL, x0 REAL NOT NULL, y0 REAL NOT NULL, x1 REAL NOT NULL, "
    "y1 REAL NOT NULL, vec BLOB NOT NULL, "
    "person_id INTEGER REFERENCES people(id) ON DELETE SET NULL);"
    "CREATE INDEX IF NOT EXISTS faces_picture ON faces(file_id, t);"
    "CREATE INDEX IF NOT EXISTS faces_person ON faces(person_id);"
    "CREATE TABLE IF NOT EXISTS face_placed(face_id INTEGER PRIMARY KEY REFERENCES faces(id) "
    "ON DELETE CASCADE, person_id INTEGER NOT NULL REFERENCES people(id) ON DELETE CASCADE);"
    "CREATE TABLE IF NOT EXISTS face_refused(face_id INTEGER NOT NULL REFERENCES faces(id) "
    "ON DELETE CASCADE, person_id INTEGER NOT NULL REFERENCES people(id) ON DELETE CASCADE, "
    "PRIMARY KEY(face_id, person_id));"
    "CREATE TRIGGER IF NOT EXISTS face_row_gone AFTER DELETE ON stage_rows "
    "WHEN old.stage='faces' BEGIN "
    "DELETE FROM faces WHERE file_id=old.file_id AND t=old.t; END;";

constexpr const char* faceColumns = "id, file_id, t, quality, x0, y0, x1, y1, person_id";

void insertFaces(SQLite& db, std::int64_t fileID, double time, std::span<const std::uint8_t> data) {
  const PictureFaces found = PictureFaces::decoded(data);
  for (std::size_t i = 0; i < found.faces.size(); ++i) {
    const FaceRecord& face = found.faces[i];
    if (face.vector.empty()) continue;
    db.run(
        "INSERT INTO faces(file_id, t, place, quality, x0, y0, x1, y1, vec) "
        "VALUES(?,?,?,?,?,?,?,?,?)",
        {fileID, time, static_cast<std::int64_t>(i), double{face.quality}, double{face.box[0].x},
         double{face.box[0].y}, double{face.box[1].x}, double{face.box[1].y},
         encodeVector(face.vector)});
  }
}

Library::StoredFace storedFace(const SQLite::Row& row, bool withVector) {
  Library::StoredFace face{
      .id = row.integer(0),
      .fileID = row.integer(1),
      .time = row.real(2),
      .quality = static_cast<float>(row.real(3)),
      .box = {static_cast<float>(row.real(4)), static_cast<float>(row.real(5)),
              static_cast<float>(row.real(6)), static_cast<float>(row.real(7))}};
  if (!row.isNull(8)) face.personID = row.integer(8);
  if (!withVector) return face;
  row.withBlob(9, [&](std::span<const std::uint8_t> bytes) {
    face.vector.resize(bytes.size() / 2);
    for (std::size_t i = 0; i < face.vector.size(); ++i) {
      face.vector[i] = static_cast<Half>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return true;
  });
  return face;
}

Library::Person storedPerson(const SQLite::Row& row) {
  return {.id = row.integer(0),
          .name = row.text(1),
          .hidden = row.integer(2) != 0,
          .faces = row.integer(3),
          .moments = row.integer(4)};
}

constexpr const char* peopleQuery =
    "SELECT p.id, p.name, p.hidden, "
    "(SELECT count(*) FROM faces WHERE person_id=p.id), "
    "(SELECT count(*) FROM (SELECT DISTINCT file_id, t FROM faces WHERE person_id=p.id)) "
    "FROM people p ";

}  // namespace

bool Library::lacksFaceIndex() {
  bool has = false;
  db_->query("SELECT 1 FROM sqlite_master WHERE type='table' AND name='faces'",
             [&](const SQLite::Row&) { has = true; });
  return !has;
}

void Library::addFaceIndex(const UpgradeProgress& onUpgrade) {
  bool indexed = false;
  db_->transaction([&] {
    db_->exec(faceIndexScript);
    db_->query("SELECT file_id, t, data FROM stage_rows WHERE stage=?", {std::string(faceStage)},
               [&](const SQLite::Row& row) {
                 indexed = true;
                 row.withBlob(2, [&](std::span<const std::uint8_t> data) {
                   insertFaces(*db_, row.integer(0), row.real(1), data);
                   return true;
                 });
               });
    db_->run("INSERT OR REPLACE INTO meta(key, value) VALUES('schema', ?)",
             {std::to_string(schemaVersion)});
  });
  if (onUpgrade && indexed) onUpgrade(1);
}

void Library::indexFaces(std::int64_t fileID, const StageRows& rows) {
  if (rows.stage != faceStage || !hasFaceIndex_) return;
  for (const StageRow& row : rows.rows) insertFaces(*db_, fileID, row.time, row.data);
}

std::vector<Library::StoredFace> Library::faces(bool withVectors) {
  std::vector<StoredFace> list;
  if (!hasFaceIndex_) return list;
  const std::string columns = std::string(faceColumns) + (withVectors ? ", vec" : "");
  db_->query("SELECT " + columns + " FROM faces ORDER BY id",
             [&](const SQLite::Row& row) { list.push_back(storedFace(row, withVectors)); });
  return list;
}

std::optional<Library::StoredFace> Library::face(std::int64_t faceID) {
  std::optional<StoredFace> found;
  if (!hasFaceIndex_) return found;
  db_->query("SELECT " + std::string(faceColumns) + ", vec FROM faces WHERE id=?", {faceID},
             [&](const SQLite::Row& row) { found = storedFace(row, true); });
  return found;
}

std::vector<Library::StoredFace> Library::facesOf(std::int64_t personID) {
  std::vector<StoredFace> list;
  if (!hasFaceIndex_) return list;
  db_->query("SELECT " + std::string(faceColumns) +
                 " FROM faces WHERE person_id=? ORDER BY file_id, t, place",
             {personID}, [&](const SQLite::Row& row) { list.push_back(storedFace(row, false)); });
  return list;
}

std::vector<Library::Person> Library::people() {
  std::vector<Person> list;
  if (!hasFaceIndex_) return list;
  db_->query(std::string(peopleQuery),
             [&](const SQLite::Row& row) { list.push_back(storedPerson(row)); });
  std::stable_sort(list.begin(), list.end(), [](const Person& a, const Person& b) {
    if (a.name.has_value() != b.name.has_value()) return a.name.has_value();
    if (a.name && *a.name != *b.name) return *a.name < *b.name;
    if (a.faces != b.faces) return a.faces > b.faces;
    return a.id < b.id;
  });
  return list;
}

std::optional<Library::Person> Library::person(std::int64_t personID) {
  std::optional<Person> found;
  if (!hasFaceIndex_) return found;
  db_->query(std::string(peopleQuery) + "WHERE p.id=?", {personID},
             [&](const SQLite::Row& row) { found = storedPerson(row); });
  return found;
}

Library::FaceChoices Library::faceChoices() {
  FaceChoices choices;
  if (!hasFaceIndex_) return choices;
  db_->query("SELECT face_id, person_id FROM face_placed",
             [&](const SQLite::Row& row) { choices.placed[row.integer(0)] = row.integer(1); });
  db_->query("SELECT face_id, person_id FROM face_refused", [&](const SQLite::Row& row) {
    choices.refused.emplace(row.integer(0), row.integer(1));
  });
  return choices;
}

std::map<std::int64_t, std::int64_t> Library::placeFaces(
    const std::vector<FacePlacement>& placements, bool full) {
  MutexLock serial(writeLock_);
  return db_->transaction([&] {
    std::map<std::int64_t, std::int64_t> made;
    if (full) db_->run("UPDATE faces SET person_id=NULL");
    for (const auto& [faceID, key] : placements) {
      std::optional<std::int64_t> person;
      if (key > 0) person = key;
      if (key < 0) {
        auto [at, isNew] = made.try_emplace(key, 0);
        if (isNew) at->second = db_->run("INSERT INTO people(name) VALUES(NULL)");
        person = at->second;
      }
      db_->run(
          "UPDATE faces SET person_id=? WHERE id=? AND (? IS NULL OR ? IN "
          "(SELECT id FROM people))",
          {person, faceID, person, person});
    }
    db_->run(
        "DELETE FROM people WHERE name IS NULL AND id NOT IN "
        "(SELECT person_id FROM faces WHERE person_id IS NOT NULL)");
    return made;
  });
}

void Library::keepFacesWith(std::int64_t personID) {
  db_->run(
      "INSERT OR REPLACE INTO face_placed(face_id, person_id) SELECT id, person_id FROM "
      "faces WHERE person_id=?",
      {personID});
}

bool Library::namePerson(std::int64_t personID, const std::string& name) {
  MutexLock serial(writeLock_);
  return db_->transaction([&] {
    db_->run("UPDATE people SET name=? WHERE id=?", {name, personID});
    if (db_->changes() == 0) return false;
    keepFacesWith(personID);
    return true;
  });
}

bool Library::hidePerson(std::int64_t personID, bool hidden) {
  MutexLock serial(writeLock_);
  return db_->transaction([&] {
    db_->run("UPDATE people SET hidden=? WHERE id=?", {hidden, personID});
    return db_->changes() > 0;
  });
}

bool Library::mergePeople(std::int64_t keep, std::int64_t other) {
  if (keep == other) return false;
  MutexLock serial(writeLock_);
  return db_->transaction([&] {
    int known = 0;
    db_->query("SELECT count(*) FROM people WHERE id IN (?, ?)", {keep, other},
               [&](const SQLite::Row& row) { known = static_cast<int>(row.integer(0)); });
    if (known != 2) return false;
    db_->run(
        "UPDATE people SET name=(SELECT name FROM people WHERE id=?) "
        "WHERE id=? AND name IS NULL",
        {other, keep});
    db_->run("UPDATE faces SET person_id=? WHERE person_id=?", {keep, other});
    db_->run("UPDATE face_placed SET person_id=? WHERE person_id=?", {keep, other});
    db_->run("UPDATE OR IGNORE face_refused SET person_id=? WHERE person_id=?", {keep, other});
    db_->run("DELETE FROM people WHERE id=?", {other});
    keepFacesWith(keep);
    return true;
  });
}

bool Library::moveFace(std::int64_t faceID, std::int64_t personID) {
  MutexLock serial(writeLock_);
  return db_->transaction([&] {
    bool known = false;
    db_->query("SELECT 1 FROM people WHERE id=? AND EXISTS (SELECT 1 FROM faces WHERE id=?)",
               {personID, faceID}, [&](const SQLite::Row&) { known = true; });
    if (!known) return false;
    db_->run("UPDATE faces SET person_id=? WHERE id=?", {personID, faceID});
    db_->run("INSERT OR REPLACE INTO face_placed(face_id, person_id) VALUES(?,?)",
             {faceID, personID});
    db_->run("DELETE FROM face_refused WHERE face_id=? AND person_id=?", {faceID, personID});
    db_->run(
        "DELETE FROM people WHERE name IS NULL AND id NOT IN "
        "(SELECT person_id FROM faces WHERE person_id IS NOT NULL)");
    return true;
  });
}

bool Library::refuseFace(std::int64_t faceID) {
  MutexLock serial(writeLock_);
  return db_->transaction([&] {
    std::optional<std::int64_t> person;
    db_->query("SELECT person_id FROM faces WHERE id=? AND person_id IS NOT NULL", {faceID},
               [&](const SQLite::Row& row) { person = row.integer(0); });
    if (!person) return false;
    db_->run("INSERT OR IGNORE INTO face_refused(face_id, person_id) VALUES(?,?)",
             {faceID, *person});
    db_->run("DELETE FROM face_placed WHERE face_id=?", {faceID});
    db_->run("UPDATE faces SET person_id=NULL WHERE id=?", {faceID});
    return true;
  });
}

void Library::forgetFaces() {
  if (!hasFaceIndex_) return;
  MutexLock serial(writeLock_);
  db_->transaction([&] {
    // The trigger takes the faces with the stage's rows; the rest goes at once.
    db_->run("DELETE FROM face_refused");
    db_->run("DELETE FROM face_placed");
    db_->run("DELETE FROM faces");
    db_->run("DELETE FROM people");
    db_->run("DELETE FROM stage_rows WHERE stage=?", {std::string(faceStage)});
    db_->run("DELETE FROM stages_done WHERE stage=?", {std::string(faceStage)});
  });
}

}  // namespace quillmere
