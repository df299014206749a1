#include "index/Library.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <span>
#include <utility>

#include "platform/XdgPaths.h"

namespace quillmere {

namespace {

// Six statements, each guarded so that the script can run on every opening. Ids are never
// reused (AUTOINCREMENT): a deleted file's or frame's id may still be held by the indexer, a
// search result or a thumbnail cache, and must not come to name another row.
constexpr const char* schemaScript =
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT);"
    "CREATE TABLE IF NOT EXISTS roots(id INTEGER PRIMARY KEY AUTOINCREMENT, path TEXT NOT NULL "
    "UNIQUE, "
    "bookmark BLOB, volume_uuid TEXT, volume_name TEXT, removable INTEGER NOT NULL DEFAULT 0, "
    "added REAL NOT NULL);"
    "CREATE TABLE IF NOT EXISTS files(id INTEGER PRIMARY KEY AUTOINCREMENT, "
    "root_id INTEGER NOT NULL REFERENCES roots(id) ON DELETE CASCADE, rel_path TEXT NOT NULL, "
    "kind INTEGER NOT NULL, size INTEGER NOT NULL, mtime REAL NOT NULL, "
    "duration REAL NOT NULL DEFAULT 0, width INTEGER NOT NULL DEFAULT 0, "
    "height INTEGER NOT NULL DEFAULT 0, state INTEGER NOT NULL DEFAULT 0, error TEXT, "
    "UNIQUE(root_id, rel_path));"
    "CREATE TABLE IF NOT EXISTS frames(id INTEGER PRIMARY KEY AUTOINCREMENT, "
    "file_id INTEGER NOT NULL REFERENCES files(id) ON DELETE CASCADE, t REAL NOT NULL, "
    "vec BLOB NOT NULL, thumb BLOB);"
    "CREATE INDEX IF NOT EXISTS frames_file ON frames(file_id);"
    "CREATE INDEX IF NOT EXISTS files_state ON files(state);";

constexpr std::string_view devSuffix = ".dev";

double secondsSince1970() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

Library::Library(const std::filesystem::path& url, std::size_t dim, std::string modelSignature)
    : vectors_(dim), modelSignature_(std::move(modelSignature)) {
  if (url.has_parent_path()) std::filesystem::create_directories(url.parent_path());
  db_ = std::make_unique<SQLite>(url.string());
  migrate();
  loadCaches();
  loadVectors();
}

std::filesystem::path Library::defaultURL() {
  return defaultURL(QUILLMERE_APPLICATION_ID);
}

std::filesystem::path Library::defaultURL(std::string_view applicationID) {
  // An empty value cannot name a file, so it counts as unset.
  if (const char* value = std::getenv("QUILLMERE_LIBRARY"); value && *value) return value;
  const bool dev = applicationID.size() >= devSuffix.size() &&
                   applicationID.substr(applicationID.size() - devSuffix.size()) == devSuffix;
  return XdgPaths::dataHome() / (dev ? "Quillmere Dev" : "Quillmere") / "Library.sqlite";
}

void Library::migrate() {
  db_->exec(schemaScript);
  std::optional<std::string> stored;
  db_->query("SELECT value FROM meta WHERE key='model'",
             [&](const SQLite::Row& row) { stored = row.text(0); });
  if (stored && *stored == modelSignature_) return;
  db_->transaction([&] {
    db_->run("DELETE FROM frames");
    db_->run("UPDATE files SET state=0, error=NULL");
    db_->run("INSERT OR REPLACE INTO meta(key, value) VALUES('model', ?)", {modelSignature_});
    db_->run("INSERT OR REPLACE INTO meta(key, value) VALUES('schema', ?)",
             {std::to_string(schemaVersion)});
  });
}

void Library::loadCaches() {
  std::map<std::int64_t, Root> roots;
  db_->query("SELECT id, path, bookmark, volume_uuid, volume_name, removable, added FROM roots",
             [&](const SQLite::Row& row) {
               Root root;
               root.id = row.integer(0);
               root.path = row.text(1).value_or("");
               root.bookmark = row.blob(2);
               root.volumeUUID = row.text(3);
               root.volumeName = row.text(4);
               root.isRemovable = row.integer(5) != 0;
               root.added = row.real(6);
               roots.insert_or_assign(root.id, std::move(root));
             });
  std::map<std::int64_t, MediaFile> files;
  db_->query(
      "SELECT id, root_id, rel_path, kind, size, mtime, duration, width, height, state, error "
      "FROM files",
      [&](const SQLite::Row& row) {
        MediaFile file;
        file.id = row.integer(0);
        file.rootID = row.integer(1);
        file.relPath = row.text(2).value_or("");
        file.kind = mediaKindFromColumn(row.integer(3));
        file.size = row.integer(4);
        file.mtime = row.real(5);
        file.duration = row.real(6);
        file.width = static_cast<int>(row.integer(7));
        file.height = static_cast<int>(row.integer(8));
        file.state = fileStateFromColumn(row.integer(9));
        file.error = row.text(10);
        files.insert_or_assign(file.id, std::move(file));
      });
  std::lock_guard guard(lock);
  rootsByID = std::move(roots);
  filesByID = std::move(files);
}

void Library::loadVectors() {
  std::int64_t count = 0;
  db_->query("SELECT count(*) FROM frames",
             [&](const SQLite::Row& row) { count = row.integer(0); });
  vectors_.removeAll();
  vectors_.reserve(static_cast<std::size_t>(std::max<std::int64_t>(count, 0)));
  const std::size_t dim = vectors_.dim();
  // One buffer for every row: the blob's bytes are not aligned for binary16 access.
  std::vector<Half> vector(dim);
  db_->query("SELECT id, file_id, t, vec FROM frames ORDER BY id", [&](const SQLite::Row& row) {
    const bool valid = row.withBlob(3, [&](std::span<const std::uint8_t> bytes) {
      if (bytes.size() != 2 * dim) return false;
      if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(vector.data(), bytes.data(), bytes.size());
      } else {
        for (std::size_t i = 0; i < dim; ++i) {
          vector[i] = static_cast<Half>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        }
      }
      return true;
    });
    if (!valid) return;
    vectors_.add({.frameID = row.integer(0), .fileID = row.integer(1), .time = row.real(2)},
                 vector);
  });
}

std::vector<Root> Library::roots() const {
  std::vector<Root> list;
  {
    std::lock_guard guard(lock);
    list.reserve(rootsByID.size());
    for (const auto& [id, root] : rootsByID) list.push_back(root);
  }
  std::stable_sort(list.begin(), list.end(),
                   [](const Root& a, const Root& b) { return a.added < b.added; });
  return list;
}

std::optional<Root> Library::root(std::int64_t id) const {
  std::lock_guard guard(lock);
  auto found = rootsByID.find(id);
  if (found == rootsByID.end()) return std::nullopt;
  return found->second;
}

std::vector<MediaFile> Library::allFiles() const {
  std::lock_guard guard(lock);
  std::vector<MediaFile> list;
  list.reserve(filesByID.size());
  for (const auto& [id, file] : filesByID) list.push_back(file);
  return list;
}

std::vector<MediaFile> Library::files(std::int64_t rootID) const {
  std::lock_guard guard(lock);
  std::vector<MediaFile> list;
  for (const auto& [id, file] : filesByID) {
    if (file.rootID == rootID) list.push_back(file);
  }
  return list;
}

std::optional<MediaFile> Library::file(std::int64_t id) const {
  std::lock_guard guard(lock);
  auto found = filesByID.find(id);
  if (found == filesByID.end()) return std::nullopt;
  return found->second;
}

std::optional<std::filesystem::path> Library::url(const MediaFile& file) const {
  std::optional<Root> owner = root(file.rootID);
  if (!owner) return std::nullopt;
  return owner->url() / file.relPath;
}

Root Library::addRoot(const std::string& path, const std::optional<Bytes>& bookmark,
                      const std::optional<std::string>& volumeUUID,
                      const std::optional<std::string>& volumeName, bool removable) {
  std::lock_guard serial(writing);
  for (const Root& existing : roots()) {
    if (existing.path == path) return existing;
  }
  Root root{.path = path,
            .bookmark = bookmark,
            .volumeUUID = volumeUUID,
            .volumeName = volumeName,
            .isRemovable = removable,
            .added = secondsSince1970()};
  root.id = db_->run(
      "INSERT INTO roots(path, bookmark, volume_uuid, volume_name, removable, added) "
      "VALUES(?,?,?,?,?,?)",
      {path, bookmark, volumeUUID, volumeName, std::int64_t{removable ? 1 : 0}, root.added});
  std::lock_guard guard(lock);
  rootsByID.insert_or_assign(root.id, root);
  return root;
}

void Library::updateRoot(const Root& root) {
  std::lock_guard serial(writing);
  db_->run("UPDATE roots SET path=?, bookmark=?, volume_name=? WHERE id=?",
           {root.path, root.bookmark, root.volumeName, root.id});
  std::lock_guard guard(lock);
  // A root forgotten meanwhile stays forgotten.
  if (auto found = rootsByID.find(root.id); found != rootsByID.end()) found->second = root;
}

void Library::removeRoot(std::int64_t id) {
  std::lock_guard serial(writing);
  std::vector<std::int64_t> fileIDs;
  for (const MediaFile& file : files(id)) fileIDs.push_back(file.id);
  db_->transaction([&] {
    db_->run("DELETE FROM frames WHERE file_id IN (SELECT id FROM files WHERE root_id=?)", {id});
    db_->run("DELETE FROM files WHERE root_id=?", {id});
    db_->run("DELETE FROM roots WHERE id=?", {id});
  });
  for (std::int64_t fileID : fileIDs) vectors_.remove(fileID);
  std::lock_guard guard(lock);
  rootsByID.erase(id);
  for (std::int64_t fileID : fileIDs) filesByID.erase(fileID);
}

}  // namespace quillmere
