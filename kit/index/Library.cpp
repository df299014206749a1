// SPDX-License-Identifier: GPL-3.0-or-later
// The library's schema, opening and migration, its caches and loading its vectors.
#include "index/Library.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <span>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/XdgPaths.h"

namespace quillmere {

namespace {

// Listings come in id order (the order files were added), whatever the map's order.
void sortByID(std::vector<MediaFile>& files) {
  std::sort(files.begin(), files.end(),
            [](const MediaFile& a, const MediaFile& b) { return a.id < b.id; });
}

// Ten statements, each guarded so that the script can run on every opening. Ids are never
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
    "taken REAL, taken_offset INTEGER, taken_source INTEGER, UNIQUE(root_id, rel_path));"
    "CREATE TABLE IF NOT EXISTS frames(id INTEGER PRIMARY KEY AUTOINCREMENT, "
    "file_id INTEGER NOT NULL REFERENCES files(id) ON DELETE CASCADE, t REAL NOT NULL, "
    "vec BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS thumbs(frame_id INTEGER PRIMARY KEY "
    "REFERENCES frames(id) ON DELETE CASCADE, jpeg BLOB NOT NULL);"
    "CREATE INDEX IF NOT EXISTS frames_file ON frames(file_id);"
    "CREATE INDEX IF NOT EXISTS files_state ON files(state);"
    "CREATE TABLE IF NOT EXISTS stage_rows(file_id INTEGER NOT NULL REFERENCES files(id) "
    "ON DELETE CASCADE, stage TEXT NOT NULL, t REAL NOT NULL, data BLOB NOT NULL);"
    "CREATE INDEX IF NOT EXISTS stage_rows_file ON stage_rows(file_id);"
    "CREATE TABLE IF NOT EXISTS stages_done(file_id INTEGER NOT NULL REFERENCES files(id) "
    "ON DELETE CASCADE, stage TEXT NOT NULL, PRIMARY KEY(file_id, stage));";

// The frames an upgrade copies per step; its progress is told after each.
constexpr std::int64_t upgradeStep = 20000;

constexpr std::string_view devSuffix = ".dev";

// taken, taken_offset and taken_source from column `at` on; absent until read.
std::optional<CaptureTime> capturedAt(const SQLite::Row& row, int at) {
  if (row.isNull(at) || row.isNull(at + 2)) return std::nullopt;
  const std::optional<TakenSource> source = CaptureTime::sourceFromRaw(row.integer(at + 2));
  if (!source) return std::nullopt;
  CaptureTime taken{.seconds = row.real(at), .source = *source};
  if (!row.isNull(at + 1)) taken.offsetMinutes = static_cast<int>(row.integer(at + 1));
  return taken;
}

double secondsSince1970() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

Library::Library(const std::filesystem::path& filePath, std::size_t dim, std::string modelSignature,
                 Opening opening, const UpgradeProgress& onUpgrade)
    : location_(filePath), vectors_(dim), modelSignature_(std::move(modelSignature)) {
  const bool readOnly = opening == Opening::readOnly;
  if (!readOnly && filePath.has_parent_path()) {
    std::filesystem::create_directories(filePath.parent_path());
  }
  db_ = std::make_unique<SQLite>(filePath.string(),
                                 readOnly ? SQLite::Access::readOnly : SQLite::Access::readWrite);
  migrate(opening, onUpgrade);
  loadCaches();
  if (modelMatches_) loadVectors();
}

bool Library::isOlder(const std::filesystem::path& filePath) {
  std::error_code missing;
  if (!std::filesystem::is_regular_file(filePath, missing)) return false;
  SQLite db(filePath.string(), SQLite::Access::readOnly);
  bool older = false;
  db.query("SELECT 1 FROM pragma_table_info('frames') WHERE name='thumb'",
           [&](const SQLite::Row&) { older = true; });
  bool hasMeta = false;
  db.query("SELECT 1 FROM sqlite_master WHERE type='table' AND name='meta'",
           [&](const SQLite::Row&) { hasMeta = true; });
  if (!hasMeta) return older;
  db.query("SELECT value FROM meta WHERE key='schema'", [&](const SQLite::Row& row) {
    const auto stored = row.text(0);
    if (stored && std::strtoll(stored->c_str(), nullptr, 10) < schemaVersion) older = true;
  });
  return older;
}

std::filesystem::path Library::defaultPath() {
  return defaultPath(QUILLMERE_APPLICATION_ID);
}

std::filesystem::path Library::defaultPath(std::string_view applicationID) {
  // An empty value cannot name a file, so it counts as unset.
  if (const char* value = std::getenv("QUILLMERE_LIBRARY"); value && *value) return value;
  const bool dev = applicationID.size() >= devSuffix.size() &&
                   applicationID.substr(applicationID.size() - devSuffix.size()) == devSuffix;
  return XdgPaths::dataHome() / (dev ? "Quillmere Dev" : "Quillmere") / "Library.sqlite";
}

Library::Newer::Newer() : std::runtime_error("Library::Newer") {}

void Library::migrate(Opening opening, const UpgradeProgress& onUpgrade) {
  refuseNewer();
  if (opening != Opening::readOnly) {
    // Before the script, which would add a thumbs table over the old frames.
    if (framesHoldThumbnails()) upgradeThumbnails(onUpgrade);
    if (filesLackCaptureTimes()) addCaptureTimes();
    db_->exec(schemaScript);
    // After the script: it indexes the text stage's rows.
    if (lacksTextIndex()) addTextIndex(onUpgrade);
    if (lacksFaceIndex()) addFaceIndex(onUpgrade);
  }
  hasTextIndex_ = !lacksTextIndex();
  hasFaceIndex_ = !lacksFaceIndex();
  db_->query("SELECT value FROM meta WHERE key='model'",
             [&](const SQLite::Row& row) { storedSignature_ = row.text(0); });
  const std::optional<std::string>& stored = storedSignature_;
  if (stored && *stored == modelSignature_ && framesFitWidth()) return;
  // A library without a signature is new: it has no frames to keep.
  if (stored && opening != Opening::adopt) {
    modelMatches_ = false;
    return;
  }
  if (opening == Opening::readOnly) return;
  db_->transaction([&] {
    db_->run("DELETE FROM thumbs");  // at once, not one cascade per frame
    db_->run("DELETE FROM frames");
    db_->run("UPDATE files SET state=?, error=NULL", {rawValue(FileState::pending)});
    db_->run("INSERT OR REPLACE INTO meta(key, value) VALUES('model', ?)", {modelSignature_});
    db_->run("INSERT OR REPLACE INTO meta(key, value) VALUES('schema', ?)",
             {std::to_string(schemaVersion)});
  });
}

void Library::refuseNewer() {
  bool hasMeta = false;
  db_->query("SELECT 1 FROM sqlite_master WHERE type='table' AND name='meta'",
             [&](const SQLite::Row&) { hasMeta = true; });
  if (!hasMeta) return;
  std::optional<std::string> stored;
  db_->query("SELECT value FROM meta WHERE key='schema'",
             [&](const SQLite::Row& row) { stored = row.text(0); });
  if (stored && std::strtoll(stored->c_str(), nullptr, 10) > schemaVersion) throw Newer();
}

bool Library::framesHoldThumbnails() {
  bool holds = false;
  db_->query("SELECT 1 FROM pragma_table_info('frames') WHERE name='thumb'",
             [&](const SQLite::Row&) { holds = true; });
  return holds;
}

void Library::upgradeThumbnails(const UpgradeProgress& onUpgrade) {
  db_->transaction([&] {
    std::int64_t first = 0, last = 0;
    db_->query("SELECT ifnull(min(id), 0), ifnull(max(id), 0) FROM frames",
               [&](const SQLite::Row& row) {
                 first = row.integer(0);
                 last = row.integer(1);
               });
    // The old table and its index step aside; the new ones take their names.
    db_->exec("ALTER TABLE frames RENAME TO frames_v1; DROP INDEX IF EXISTS frames_file;");
    db_->exec(schemaScript);
    for (std::int64_t from = first; from <= last; from += upgradeStep) {
      const std::int64_t to = std::min(last, from + upgradeStep - 1);
      db_->run(
          "INSERT INTO frames(id, file_id, t, vec) SELECT id, file_id, t, vec FROM frames_v1 "
          "WHERE id BETWEEN ? AND ? ORDER BY id",
          {from, to});
      db_->run(
          "INSERT INTO thumbs(frame_id, jpeg) SELECT id, thumb FROM frames_v1 "
          "WHERE id BETWEEN ? AND ? AND length(thumb) > 0 ORDER BY id",
          {from, to});
      // Done is told once, after the commit.
      if (onUpgrade && to < last) {
        onUpgrade(static_cast<double>(to - first + 1) / static_cast<double>(last - first + 1));
      }
    }
    // Ids of deleted frames are never given again: the old table's sequence carries on.
    db_->exec(
        "DELETE FROM sqlite_sequence WHERE name='frames';"
        "UPDATE sqlite_sequence SET name='frames' WHERE name='frames_v1';"
        "DROP TABLE frames_v1;");
    db_->run("INSERT OR REPLACE INTO meta(key, value) VALUES('schema', ?)",
             {std::to_string(schemaVersion)});
  });
  if (onUpgrade) onUpgrade(1);
}

bool Library::filesLackCaptureTimes() {
  bool hasFiles = false, hasTaken = false;
  db_->query("SELECT name FROM pragma_table_info('files')", [&](const SQLite::Row& row) {
    hasFiles = true;
    if (row.text(0) == "taken") hasTaken = true;
  });
  return hasFiles && !hasTaken;
}

void Library::addCaptureTimes() {
  // Empty until read: the indexer fills them from the files' headers, embedding nothing.
  db_->transaction([&] {
    db_->exec(
        "ALTER TABLE files ADD COLUMN taken REAL;"
        "ALTER TABLE files ADD COLUMN taken_offset INTEGER;"
        "ALTER TABLE files ADD COLUMN taken_source INTEGER;");
    db_->run("INSERT OR REPLACE INTO meta(key, value) VALUES('schema', ?)",
             {std::to_string(schemaVersion)});
  });
}

bool Library::framesFitWidth() const {
  // One model writes every frame of a library, so the first tells the width of them all.
  bool fits = true;
  db_->query("SELECT length(vec) FROM frames LIMIT 1", [&](const SQLite::Row& row) {
    fits = row.integer(0) == static_cast<std::int64_t>(2 * vectors_.dim());
  });
  return fits;
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
  std::unordered_map<std::int64_t, MediaFile> files;
  // A file of the second schema opened read-only has no capture times yet.
  const std::string taken =
      filesLackCaptureTimes() ? "NULL, NULL, NULL" : "taken, taken_offset, taken_source";
  db_->query(
      "SELECT id, root_id, rel_path, kind, size, mtime, duration, width, height, state, error, " +
          taken + " FROM files",
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
        file.taken = capturedAt(row, 11);
        files.insert_or_assign(file.id, std::move(file));
      });
  MutexLock guard(lock_);
  rootsByID_ = std::move(roots);
  filesByID_ = std::move(files);
  pendingOrder_.clear();
  for (const auto& [id, file] : filesByID_) pendingOrder_.add(file);
}

namespace {

// Rows read from the frames table, handed from the reading thread to the filling one.
struct VectorBatch {
  std::vector<VectorIndex::Row> rows;
  std::vector<Half> values;
};

// A small bounded hand-over between one producer and one consumer.
class BatchQueue {
 public:
  void push(VectorBatch batch) {
    std::unique_lock guard(lock_);
    room_.wait(guard, [&] { return batches_.size() < kDepth; });
    batches_.push_back(std::move(batch));
    ready_.notify_one();
  }
  void close() {
    std::lock_guard guard(lock_);
    closed_ = true;
    ready_.notify_one();
  }
  // Nothing once the producer closed the queue and it is empty.
  std::optional<VectorBatch> pop() {
    std::unique_lock guard(lock_);
    ready_.wait(guard, [&] { return !batches_.empty() || closed_; });
    if (batches_.empty()) return std::nullopt;
    VectorBatch batch = std::move(batches_.front());
    batches_.pop_front();
    room_.notify_one();
    return batch;
  }

 private:
  static constexpr std::size_t kDepth = 4;
  std::mutex lock_;  // guards batches_ and closed_
  std::condition_variable ready_, room_;
  std::deque<VectorBatch> batches_;
  bool closed_ = false;
};

}  // namespace

void Library::loadVectors() {
  std::int64_t count = 0;
  db_->query("SELECT count(*) FROM frames",
             [&](const SQLite::Row& row) { count = row.integer(0); });
  vectors_.removeAll();
  vectors_.reserve(static_cast<std::size_t>(std::max<std::int64_t>(count, 0)));
  const std::size_t dim = vectors_.dim();
  constexpr std::size_t batchRows = 4096;

  // The database is read on a second thread while this one fills the index: filling a large
  // index is mostly the kernel handing out fresh pages, which then overlaps with the reads.
  BatchQueue queue;
  std::exception_ptr failure;
  std::thread reader([&] {
    try {
      VectorBatch batch;
      db_->query("SELECT id, file_id, t, vec FROM frames ORDER BY id", [&](const SQLite::Row& row) {
        const bool valid = row.withBlob(3, [&](std::span<const std::uint8_t> bytes) {
          if (bytes.size() != 2 * dim) return false;
          const std::size_t at = batch.values.size();
          batch.values.resize(at + dim);
          if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(batch.values.data() + at, bytes.data(), bytes.size());
          } else {
            for (std::size_t i = 0; i < dim; ++i) {
              batch.values[at + i] = static_cast<Half>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
            }
          }
          return true;
        });
        if (!valid) return;
        batch.rows.push_back(
            {.frameID = row.integer(0), .fileID = row.integer(1), .time = row.real(2)});
        if (batch.rows.size() == batchRows) queue.push(std::exchange(batch, {}));
      });
      if (!batch.rows.empty()) queue.push(std::move(batch));
    } catch (...) {
      failure = std::current_exception();
    }
    queue.close();
  });
  try {
    while (std::optional<VectorBatch> batch = queue.pop()) {
      for (std::size_t i = 0; i < batch->rows.size(); ++i) {
        vectors_.add(batch->rows[i], std::span<const Half>(batch->values).subspan(i * dim, dim));
      }
    }
  } catch (...) {
    // Let the reader finish (it may be waiting for room) before the failure leaves.
    while (queue.pop()) {
    }
    reader.join();
    throw;
  }
  reader.join();
  if (failure) std::rethrow_exception(failure);
}

std::vector<Root> Library::roots() const {
  std::vector<Root> list;
  {
    MutexLock guard(lock_);
    list.reserve(rootsByID_.size());
    for (const auto& [id, root] : rootsByID_) list.push_back(root);
  }
  std::stable_sort(list.begin(), list.end(),
                   [](const Root& a, const Root& b) { return a.added < b.added; });
  return list;
}

std::optional<Root> Library::root(std::int64_t id) const {
  MutexLock guard(lock_);
  auto found = rootsByID_.find(id);
  if (found == rootsByID_.end()) return std::nullopt;
  return found->second;
}

std::vector<MediaFile> Library::allFiles() const {
  MutexLock guard(lock_);
  std::vector<MediaFile> list;
  list.reserve(filesByID_.size());
  for (const auto& [id, file] : filesByID_) list.push_back(file);
  sortByID(list);
  return list;
}

std::vector<MediaFile> Library::files(std::int64_t rootID) const {
  MutexLock guard(lock_);
  std::vector<MediaFile> list;
  for (const auto& [id, file] : filesByID_) {
    if (file.rootID == rootID) list.push_back(file);
  }
  sortByID(list);
  return list;
}

std::optional<MediaFile> Library::file(std::int64_t id) const {
  MutexLock guard(lock_);
  auto found = filesByID_.find(id);
  if (found == filesByID_.end()) return std::nullopt;
  return found->second;
}

std::vector<std::optional<MediaFile>> Library::filesByID(std::span<const std::int64_t> ids) const {
  std::vector<std::optional<MediaFile>> found(ids.size());
  MutexLock guard(lock_);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const auto file = filesByID_.find(ids[i]);
    if (file != filesByID_.end()) found[i] = file->second;
  }
  return found;
}

std::vector<bool> Library::filesMatch(std::span<const std::int64_t> ids,
                                      const std::function<bool(const MediaFile&)>& test) const {
  std::vector<bool> matches(ids.size());
  MutexLock guard(lock_);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const auto found = filesByID_.find(ids[i]);
    matches[i] = found != filesByID_.end() && test(found->second);
  }
  return matches;
}

std::optional<std::filesystem::path> Library::filePath(const MediaFile& file) const {
  std::optional<Root> owner = root(file.rootID);
  if (!owner) return std::nullopt;
  return owner->basePath() / file.relPath;
}

Root Library::addRoot(const std::string& path, const std::optional<Bytes>& bookmark,
                      const std::optional<std::string>& volumeUUID,
                      const std::optional<std::string>& volumeName, bool removable) {
  MutexLock serial(writeLock_);
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
  MutexLock guard(lock_);
  rootsByID_.insert_or_assign(root.id, root);
  return root;
}

void Library::updateRoot(const Root& root) {
  MutexLock serial(writeLock_);
  db_->run("UPDATE roots SET path=?, bookmark=?, volume_name=? WHERE id=?",
           {root.path, root.bookmark, root.volumeName, root.id});
  MutexLock guard(lock_);
  // A root forgotten meanwhile stays forgotten.
  if (auto found = rootsByID_.find(root.id); found != rootsByID_.end()) found->second = root;
}

void Library::removeRoot(std::int64_t id) {
  MutexLock serial(writeLock_);
  std::vector<std::int64_t> fileIDs;
  for (const MediaFile& file : files(id)) fileIDs.push_back(file.id);
  db_->transaction([&] {
    db_->run("DELETE FROM frames WHERE file_id IN (SELECT id FROM files WHERE root_id=?)", {id});
    db_->run("DELETE FROM files WHERE root_id=?", {id});
    db_->run("DELETE FROM roots WHERE id=?", {id});
  });
  for (std::int64_t fileID : fileIDs) vectors_.remove(fileID);
  MutexLock guard(lock_);
  rootsByID_.erase(id);
  for (std::int64_t fileID : fileIDs) {
    if (auto found = filesByID_.find(fileID); found != filesByID_.end()) {
      pendingOrder_.remove(found->second);
      filesByID_.erase(found);
    }
  }
}

void Library::compact() {
  MutexLock serial(writeLock_);
  // VACUUM writes the new file through the log; the second checkpoint moves it home and
  // truncates both.
  db_->exec("PRAGMA wal_checkpoint(TRUNCATE)");
  db_->exec("VACUUM");
  db_->exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

}  // namespace quillmere
