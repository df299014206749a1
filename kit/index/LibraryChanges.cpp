// SPDX-License-Identifier: GPL-3.0-or-later
// The Library operations that change files and frames, and the read-outs built on them.
#include <algorithm>
#include <limits>
#include <map>
#include <stdexcept>

#include "index/Library.h"
#include "index/ScanDiff.h"

namespace quillmere {

namespace {

// What the stages made of a file's old content.
void dropStages(SQLite& db, std::int64_t fileID) {
  db.run("DELETE FROM stage_rows WHERE file_id=?", {fileID});
  db.run("DELETE FROM stages_done WHERE file_id=?", {fileID});
}

void insertStageRows(SQLite& db, std::int64_t fileID, const Library::StageRows& stage) {
  for (const Library::StageRow& row : stage.rows) {
    db.run("INSERT INTO stage_rows(file_id, stage, t, data) VALUES(?,?,?,?)",
           {fileID, stage.stage, row.time, row.data});
  }
}

// The diff's database side, in one transaction; returns the ids of the added files in order.
std::vector<std::int64_t> writeDiff(SQLite& db, std::int64_t rootID, const ScanDiff& diff) {
  return db.transaction([&] {
    std::vector<std::int64_t> ids;
    ids.reserve(diff.added.size());
    for (const ScannedFile& entry : diff.added) {
      ids.push_back(db.run(
          "INSERT INTO files(root_id, rel_path, kind, size, mtime, state) VALUES(?,?,?,?,?,?)",
          {rootID, entry.relPath, rawValue(entry.kind), entry.size, entry.mtime,
           rawValue(FileState::pending)}));
    }
    for (const MediaFile& file : diff.changed) {
      db.run("DELETE FROM frames WHERE file_id=?", {file.id});
      dropStages(db, file.id);
      db.run(
          "UPDATE files SET size=?, mtime=?, state=?, error=NULL, taken=NULL, taken_offset=NULL, "
          "taken_source=NULL WHERE id=?",
          {file.size, file.mtime, rawValue(FileState::pending), file.id});
    }
    for (const ScanDiff::Move& move : diff.moved) {
      db.run("UPDATE files SET rel_path=? WHERE id=?", {move.relPath, move.file.id});
    }
    for (const MediaFile& file : diff.removed) {
      db.run("DELETE FROM frames WHERE file_id=?", {file.id});
      db.run("DELETE FROM files WHERE id=?", {file.id});
    }
    return ids;
  });
}

void writeTaken(SQLite& db, std::int64_t fileID, const CaptureTime& taken) {
  db.run("UPDATE files SET taken=?, taken_offset=?, taken_source=? WHERE id=?",
         {taken.seconds,
          taken.offsetMinutes ? SQLite::Value(std::int64_t{*taken.offsetMinutes}) : nullptr,
          static_cast<std::int64_t>(taken.source), fileID});
}

// The diff's memory side, once it is committed; the caller holds the map lock. A move
// keeps the file's place in the pending order, which does not depend on its path.
void cacheDiff(std::unordered_map<std::int64_t, MediaFile>& filesByID_, PendingOrder& order,
               std::int64_t rootID, const ScanDiff& diff,
               const std::vector<std::int64_t>& addedIDs) {
  for (std::size_t i = 0; i < diff.added.size(); ++i) {
    const ScannedFile& entry = diff.added[i];
    MediaFile file{.id = addedIDs[i],
                   .rootID = rootID,
                   .relPath = entry.relPath,
                   .kind = entry.kind,
                   .size = entry.size,
                   .mtime = entry.mtime};
    order.add(file);
    filesByID_.insert_or_assign(addedIDs[i], std::move(file));
  }
  for (const MediaFile& file : diff.changed) {
    if (auto found = filesByID_.find(file.id); found != filesByID_.end()) {
      order.remove(found->second);
      found->second = file;
      order.add(file);
    }
  }
  for (const ScanDiff::Move& move : diff.moved) {
    if (auto found = filesByID_.find(move.file.id); found != filesByID_.end()) {
      found->second.relPath = move.relPath;
    }
  }
  for (const MediaFile& file : diff.removed) {
    if (auto found = filesByID_.find(file.id); found != filesByID_.end()) {
      order.remove(found->second);
      filesByID_.erase(found);
    }
  }
}

}  // namespace

Library::Stale::Stale(std::int64_t fileID)
    : std::runtime_error("file " + std::to_string(fileID) + " changed since it was read"),
      fileID_(fileID) {}

Library::ScanChanges Library::applyScan(std::int64_t rootID,
                                        const std::vector<ScannedFile>& entries,
                                        const std::vector<std::string>& unreadable) {
  MutexLock serial(writeLock_);
  const ScanDiff diff = ScanDiff::between(files(rootID), entries, unreadable);
  const std::vector<std::int64_t> addedIDs = writeDiff(*db_, rootID, diff);
  for (const MediaFile& file : diff.changed) vectors_.remove(file.id);
  for (const MediaFile& file : diff.removed) vectors_.remove(file.id);
  {
    MutexLock guard(lock_);
    cacheDiff(filesByID_, pendingOrder_, rootID, diff, addedIDs);
  }
  return {.added = static_cast<std::int64_t>(diff.added.size()),
          .changed = static_cast<std::int64_t>(diff.changed.size()),
          .removed = static_cast<std::int64_t>(diff.removed.size()),
          .moved = static_cast<std::int64_t>(diff.moved.size())};
}

void Library::setState(std::int64_t fileID, FileState state,
                       const std::optional<std::string>& error,
                       const std::optional<double>& duration) {
  MutexLock serial(writeLock_);
  if (duration) {
    db_->run("UPDATE files SET state=?, error=?, duration=? WHERE id=?",
             {rawValue(state), error, *duration, fileID});
  } else {
    db_->run("UPDATE files SET state=?, error=? WHERE id=?", {rawValue(state), error, fileID});
  }
  MutexLock guard(lock_);
  auto found = filesByID_.find(fileID);
  if (found == filesByID_.end()) return;
  pendingOrder_.remove(found->second);
  found->second.state = state;
  found->second.error = error;
  if (duration) found->second.duration = *duration;
  pendingOrder_.add(found->second);
}

void Library::saveFrames(const std::vector<FrameBatchEntry>& batch) {
  writeFrames(batch, {});
}

void Library::saveChunk(const FrameBatchEntry& entry, ChunkPlace place) {
  writeFrames({entry}, {.replace = place.restart, .complete = place.complete, .chunk = true});
}

std::optional<double> Library::lastFrameTime(std::int64_t fileID) {
  std::optional<double> last;
  db_->query("SELECT max(t) FROM frames WHERE file_id=?", {fileID}, [&](const SQLite::Row& row) {
    if (!row.isNull(0)) last = row.real(0);
  });
  return last;
}

void Library::checkVectors(const std::vector<FrameBatchEntry>& batch) const {
  if (!modelMatches_) {
    throw std::logic_error("the library holds frames of the model " +
                           storedSignature_.value_or("?") + "; open it adopting " +
                           modelSignature_ + " to index");
  }
  // A vector of another width would be stored but never loaded again: refuse it up front.
  for (const FrameBatchEntry& entry : batch) {
    for (const FrameRecord& frame : entry.frames) {
      if (frame.vector.size() != dim()) {
        throw std::invalid_argument("frame vector of " + std::to_string(frame.vector.size()) +
                                    " components for a library of width " + std::to_string(dim()));
      }
    }
  }
}

std::vector<std::int64_t> Library::insertFrames(const std::vector<FrameBatchEntry>& batch,
                                                FrameWrite how) {
  return db_->transaction([&] {
    std::vector<std::int64_t> ids;
    for (const FrameBatchEntry& entry : batch) {
      const std::int64_t fileID = entry.file.id;
      // Only over the content the frames were made from: a scan that found the file edited
      // may have committed after the indexer last looked. A chunk goes only to a file still
      // being indexed, after frames of that same content.
      if (how.chunk) {
        bool current = false;
        db_->query("SELECT 1 FROM files WHERE id=? AND size=? AND mtime=? AND state=?",
                   {fileID, entry.file.size, entry.file.mtime, rawValue(FileState::pending)},
                   [&](const SQLite::Row&) { current = true; });
        if (!current) throw Stale(fileID);
      }
      if (how.replace) {
        db_->run("DELETE FROM frames WHERE file_id=?", {fileID});
        dropStages(*db_, fileID);
      }
      for (const StageRows& stage : entry.stages) {
        insertStageRows(*db_, fileID, stage);
        indexText(fileID, stage);
        indexFaces(fileID, stage);
      }
      for (const FrameRecord& frame : entry.frames) {
        ids.push_back(db_->run("INSERT INTO frames(file_id, t, vec) VALUES(?,?,?)",
                               {fileID, frame.time, encodeVector(frame.vector)}));
        // A zero-length thumbnail reads as none: no row for it.
        if (frame.thumbnail && !frame.thumbnail->empty()) {
          db_->run("INSERT INTO thumbs(frame_id, jpeg) VALUES(?,?)",
                   {ids.back(), *frame.thumbnail});
        }
      }
      if (!how.complete) continue;
      db_->run(
          "UPDATE files SET state=?, error=NULL, duration=?, width=?, height=? "
          "WHERE id=? AND size=? AND mtime=?",
          {rawValue(FileState::indexed), entry.duration, entry.width, entry.height, fileID,
           entry.file.size, entry.file.mtime});
      if (db_->changes() == 0) throw Stale(fileID);
      if (entry.taken) writeTaken(*db_, fileID, *entry.taken);
      for (const StageRows& stage : entry.stages) {
        db_->run("INSERT OR IGNORE INTO stages_done(file_id, stage) VALUES(?,?)",
                 {fileID, stage.stage});
      }
    }
    return ids;
  });
}

void Library::writeFrames(const std::vector<FrameBatchEntry>& batch, FrameWrite how) {
  checkVectors(batch);
  MutexLock serial(writeLock_);
  const std::vector<std::int64_t> frameIDs = insertFrames(batch, how);

  // Files first: a search that meets the new vectors of a complete file finds it indexed.
  if (how.complete) {
    MutexLock guard(lock_);
    for (const FrameBatchEntry& entry : batch) {
      auto found = filesByID_.find(entry.file.id);
      if (found == filesByID_.end()) continue;
      pendingOrder_.remove(found->second);
      found->second.state = FileState::indexed;
      found->second.error.reset();
      found->second.duration = entry.duration;
      found->second.width = entry.width;
      found->second.height = entry.height;
      if (entry.taken) found->second.taken = entry.taken;
    }
  }

  if (how.replace) {
    for (const FrameBatchEntry& entry : batch) vectors_.remove(entry.file.id);
  }
  std::size_t next = 0;
  for (const FrameBatchEntry& entry : batch) {
    for (const FrameRecord& frame : entry.frames) {
      vectors_.add({.frameID = frameIDs[next++], .fileID = entry.file.id, .time = frame.time},
                   frame.vector);
    }
  }
}

void Library::saveFrames(const MediaFile& file, const std::vector<FrameRecord>& frames,
                         double duration, int width, int height) {
  saveFrames(std::vector<FrameBatchEntry>{
      {.file = file, .frames = frames, .duration = duration, .width = width, .height = height}});
}

void Library::setTaken(const std::vector<TakenEntry>& entries) {
  if (entries.empty()) return;
  MutexLock serial(writeLock_);
  std::vector<bool> written(entries.size(), false);
  db_->transaction([&] {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const MediaFile& file = entries[i].file;
      bool current = false;
      db_->query("SELECT 1 FROM files WHERE id=? AND size=? AND mtime=?",
                 {file.id, file.size, file.mtime}, [&](const SQLite::Row&) { current = true; });
      if (!current) continue;
      writeTaken(*db_, file.id, entries[i].taken);
      written[i] = true;
    }
  });
  MutexLock guard(lock_);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!written[i]) continue;
    if (auto found = filesByID_.find(entries[i].file.id); found != filesByID_.end()) {
      found->second.taken = entries[i].taken;
    }
  }
}

std::vector<MediaFile> Library::untimed(const std::set<std::int64_t>& roots) const {
  std::vector<MediaFile> list;
  {
    MutexLock guard(lock_);
    for (const auto& [id, file] : filesByID_) {
      if (!file.taken && file.state != FileState::pending && roots.contains(file.rootID))
        list.push_back(file);
    }
  }
  std::sort(list.begin(), list.end(),
            [](const MediaFile& a, const MediaFile& b) { return a.id < b.id; });
  return list;
}

void Library::retryFailed() {
  MutexLock serial(writeLock_);
  db_->run("UPDATE files SET state=?, error=NULL WHERE state=?",
           {rawValue(FileState::pending), rawValue(FileState::failed)});
  MutexLock guard(lock_);
  for (auto& [id, file] : filesByID_) {
    if (file.state != FileState::failed) continue;
    file.state = FileState::pending;
    file.error.reset();
    pendingOrder_.add(file);
  }
}

std::vector<MediaFile> Library::pending(const std::set<std::int64_t>& roots) const {
  return pendingAfter(roots, std::nullopt, std::numeric_limits<std::size_t>::max());
}

std::vector<MediaFile> Library::pendingAfter(const std::set<std::int64_t>& roots,
                                             const std::optional<PendingOrder::Key>& after,
                                             std::size_t count) const {
  std::vector<MediaFile> list;
  MutexLock guard(lock_);
  for (const PendingOrder::Key& key : pendingOrder_.next(roots, after, count)) {
    list.push_back(filesByID_.at(key.id));
  }
  return list;
}

PendingOrder::Sums Library::pendingSums(const std::set<std::int64_t>& roots) const {
  MutexLock guard(lock_);
  return pendingOrder_.sums(roots);
}

Library::Totals Library::totals(const std::optional<std::set<std::int64_t>>& roots) const {
  Totals totals;
  {
    MutexLock guard(lock_);
    for (const auto& [id, file] : filesByID_) {
      if (roots && !roots->contains(file.rootID)) continue;
      totals.files += 1;
      totals.bytes += file.size;
      (file.kind == MediaKind::photo ? totals.photos : totals.videos) += 1;
      switch (file.state) {
        case FileState::indexed:
          totals.indexed += 1;
          totals.indexedBytes += file.size;
          if (file.kind == MediaKind::video) totals.indexedVideoSeconds += file.duration;
          break;
        case FileState::pending:
          totals.pending += 1;
          totals.pendingBytes += file.size;
          break;
        case FileState::failed:
          totals.failed += 1;
          break;
      }
    }
  }
  totals.frames = static_cast<std::int64_t>(vectors_.count());
  return totals;
}

std::map<std::int64_t, Library::RootCounts> Library::rootCounts() const {
  std::map<std::int64_t, RootCounts> counts;
  MutexLock guard(lock_);
  for (const auto& [id, file] : filesByID_) {
    auto& count = counts[file.rootID];
    count.files += 1;
    if (file.state != FileState::indexed) continue;
    count.indexed += 1;
    if (file.kind == MediaKind::photo) count.indexedPhotos += 1;
  }
  return counts;
}

std::optional<Bytes> Library::thumbnail(std::int64_t frameID) {
  std::optional<Bytes> thumb;
  try {
    db_->query("SELECT jpeg FROM thumbs WHERE frame_id=?", {frameID},
               [&](const SQLite::Row& row) { thumb = row.blob(0); });
  } catch (const SQLite::Failure&) {
    return std::nullopt;  // display only: a failed read shows nothing
  }
  return thumb;
}

std::vector<double> Library::frameTimes(std::int64_t fileID) {
  std::vector<double> times;
  try {
    db_->query("SELECT t FROM frames WHERE file_id=? ORDER BY t", {fileID},
               [&](const SQLite::Row& row) { times.push_back(row.real(0)); });
  } catch (const SQLite::Failure&) {
    // Display only: keep what was read.
  }
  return times;
}

}  // namespace quillmere
