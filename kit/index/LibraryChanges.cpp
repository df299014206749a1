// The Library operations that change files and frames, and the read-outs built on them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "index/Library.h"

namespace quillmere {

namespace {

std::string_view lastComponent(std::string_view relPath) {
  const std::size_t slash = relPath.rfind('/');
  return slash == std::string_view::npos ? relPath : relPath.substr(slash + 1);
}

// name|size|whole seconds of mtime (truncated toward zero): what a moved file keeps.
std::string moveKey(std::string_view relPath, std::int64_t size, double mtime) {
  char seconds[48];
  // Adding 0.0 turns the -0 of a truncated small negative time into 0.
  std::snprintf(seconds, sizeof seconds, "%.0f", std::trunc(mtime) + 0.0);
  std::string key(lastComponent(relPath));
  key += '|';
  key += std::to_string(size);
  key += '|';
  key += seconds;
  return key;
}

}  // namespace

Library::ScanChanges Library::applyScan(std::int64_t rootID,
                                        const std::vector<ScannedFile>& entries) {
  std::lock_guard serial(writing);
  const std::vector<MediaFile> cached = files(rootID);
  std::unordered_map<std::string_view, std::size_t> cachedByPath;
  for (std::size_t i = 0; i < cached.size(); ++i) cachedByPath.emplace(cached[i].relPath, i);

  std::vector<bool> seen(cached.size(), false);
  std::unordered_set<std::string_view> seenNewcomers;
  std::vector<MediaFile> changed;
  std::vector<const ScannedFile*> newcomers;
  for (const ScannedFile& entry : entries) {
    auto found = cachedByPath.find(entry.relPath);
    if (found == cachedByPath.end()) {
      // A listing names each path once; a repeated path is taken once.
      if (seenNewcomers.insert(entry.relPath).second) newcomers.push_back(&entry);
      continue;
    }
    if (seen[found->second]) continue;
    seen[found->second] = true;
    const MediaFile& known = cached[found->second];
    if (known.size != entry.size || std::abs(known.mtime - entry.mtime) > 0.5) {
      MediaFile update = known;
      update.size = entry.size;
      update.mtime = entry.mtime;
      update.state = FileState::pending;
      update.error.reset();
      changed.push_back(std::move(update));
    }
  }

  std::vector<const MediaFile*> vanished;
  for (std::size_t i = 0; i < cached.size(); ++i) {
    if (!seen[i]) vanished.push_back(&cached[i]);
  }
  std::unordered_map<std::string, std::size_t> vanishedByKey;
  for (std::size_t i = 0; i < vanished.size(); ++i) {
    vanishedByKey.insert_or_assign(
        moveKey(vanished[i]->relPath, vanished[i]->size, vanished[i]->mtime), i);
  }
  std::vector<bool> claimed(vanished.size(), false);
  std::vector<std::pair<const MediaFile*, const ScannedFile*>> moved;
  std::vector<const ScannedFile*> added;
  for (const ScannedFile* entry : newcomers) {
    auto found = vanishedByKey.find(moveKey(entry->relPath, entry->size, entry->mtime));
    if (found == vanishedByKey.end()) {
      added.push_back(entry);
      continue;
    }
    claimed[found->second] = true;
    moved.emplace_back(vanished[found->second], entry);
    vanishedByKey.erase(found);
  }
  std::vector<const MediaFile*> removed;
  for (std::size_t i = 0; i < vanished.size(); ++i) {
    if (!claimed[i]) removed.push_back(vanished[i]);
  }

  const std::vector<std::int64_t> addedIDs = db_->transaction([&] {
    std::vector<std::int64_t> ids;
    ids.reserve(added.size());
    for (const ScannedFile* entry : added) {
      ids.push_back(db_->run(
          "INSERT INTO files(root_id, rel_path, kind, size, mtime, state) VALUES(?,?,?,?,?,0)",
          {rootID, entry->relPath, rawValue(entry->kind), entry->size, entry->mtime}));
    }
    for (const MediaFile& file : changed) {
      db_->run("DELETE FROM frames WHERE file_id=?", {file.id});
      db_->run("UPDATE files SET size=?, mtime=?, state=0, error=NULL WHERE id=?",
               {file.size, file.mtime, file.id});
    }
    for (const auto& [file, entry] : moved) {
      db_->run("UPDATE files SET rel_path=? WHERE id=?", {entry->relPath, file->id});
    }
    for (const MediaFile* file : removed) {
      db_->run("DELETE FROM frames WHERE file_id=?", {file->id});
      db_->run("DELETE FROM files WHERE id=?", {file->id});
    }
    return ids;
  });

  for (const MediaFile& file : changed) vectors_.remove(file.id);
  for (const MediaFile* file : removed) vectors_.remove(file->id);

  std::lock_guard guard(lock);
  for (std::size_t i = 0; i < added.size(); ++i) {
    const ScannedFile& entry = *added[i];
    filesByID.insert_or_assign(addedIDs[i], MediaFile{.id = addedIDs[i],
                                                      .rootID = rootID,
                                                      .relPath = entry.relPath,
                                                      .kind = entry.kind,
                                                      .size = entry.size,
                                                      .mtime = entry.mtime});
  }
  for (const MediaFile& file : changed) {
    if (auto found = filesByID.find(file.id); found != filesByID.end()) found->second = file;
  }
  for (const auto& [file, entry] : moved) {
    if (auto found = filesByID.find(file->id); found != filesByID.end()) {
      found->second.relPath = entry->relPath;
    }
  }
  for (const MediaFile* file : removed) filesByID.erase(file->id);
  return {.added = static_cast<std::int64_t>(added.size()),
          .changed = static_cast<std::int64_t>(changed.size()),
          .removed = static_cast<std::int64_t>(removed.size()),
          .moved = static_cast<std::int64_t>(moved.size())};
}

void Library::setState(std::int64_t fileID, FileState state,
                       const std::optional<std::string>& error,
                       const std::optional<double>& duration) {
  std::lock_guard serial(writing);
  if (duration) {
    db_->run("UPDATE files SET state=?, error=?, duration=? WHERE id=?",
             {rawValue(state), error, *duration, fileID});
  } else {
    db_->run("UPDATE files SET state=?, error=? WHERE id=?", {rawValue(state), error, fileID});
  }
  std::lock_guard guard(lock);
  auto found = filesByID.find(fileID);
  if (found == filesByID.end()) return;
  found->second.state = state;
  found->second.error = error;
  if (duration) found->second.duration = *duration;
}

void Library::saveFrames(const std::vector<FrameBatchEntry>& batch) {
  // A vector of another width would be stored but never loaded again: refuse it up front.
  for (const FrameBatchEntry& entry : batch) {
    for (const FrameRecord& frame : entry.frames) {
      if (frame.vector.size() != dim()) {
        throw std::invalid_argument("frame vector of " + std::to_string(frame.vector.size()) +
                                    " components for a library of width " + std::to_string(dim()));
      }
    }
  }
  std::lock_guard serial(writing);
  const std::vector<std::int64_t> frameIDs = db_->transaction([&] {
    std::vector<std::int64_t> ids;
    for (const FrameBatchEntry& entry : batch) {
      const std::int64_t fileID = entry.file.id;
      db_->run("DELETE FROM frames WHERE file_id=?", {fileID});
      for (const FrameRecord& frame : entry.frames) {
        ids.push_back(db_->run("INSERT INTO frames(file_id, t, vec, thumb) VALUES(?,?,?,?)",
                               {fileID, frame.time, encodeVector(frame.vector), frame.thumbnail}));
      }
      db_->run("UPDATE files SET state=1, error=NULL, duration=?, width=?, height=? WHERE id=?",
               {entry.duration, entry.width, entry.height, fileID});
    }
    return ids;
  });

  // Files first: a search that meets the new vectors must find their file indexed.
  {
    std::lock_guard guard(lock);
    for (const FrameBatchEntry& entry : batch) {
      auto found = filesByID.find(entry.file.id);
      if (found == filesByID.end()) continue;
      found->second.state = FileState::indexed;
      found->second.error.reset();
      found->second.duration = entry.duration;
      found->second.width = entry.width;
      found->second.height = entry.height;
    }
  }

  for (const FrameBatchEntry& entry : batch) vectors_.remove(entry.file.id);
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

void Library::retryFailed() {
  std::lock_guard serial(writing);
  db_->run("UPDATE files SET state=0, error=NULL WHERE state=2");
  std::lock_guard guard(lock);
  for (auto& [id, file] : filesByID) {
    if (file.state != FileState::failed) continue;
    file.state = FileState::pending;
    file.error.reset();
  }
}

std::vector<MediaFile> Library::pending(const std::set<std::int64_t>& roots) const {
  std::vector<MediaFile> list;
  if (roots.empty()) return list;
  {
    std::lock_guard guard(lock);
    for (const auto& [id, file] : filesByID) {
      if (file.state == FileState::pending && roots.contains(file.rootID)) list.push_back(file);
    }
  }
  std::stable_sort(list.begin(), list.end(), [](const MediaFile& a, const MediaFile& b) {
    if (a.kind != b.kind) return a.kind == MediaKind::photo;
    if (a.kind == MediaKind::photo) return a.mtime > b.mtime;
    return a.size < b.size;
  });
  return list;
}

Library::Totals Library::totals(const std::optional<std::set<std::int64_t>>& roots) const {
  Totals totals;
  {
    std::lock_guard guard(lock);
    for (const auto& [id, file] : filesByID) {
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

std::optional<Bytes> Library::thumbnail(std::int64_t frameID) {
  std::optional<Bytes> thumb;
  try {
    db_->query("SELECT thumb FROM frames WHERE id=?", {frameID},
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
