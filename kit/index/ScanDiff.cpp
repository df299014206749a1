// SPDX-License-Identifier: GPL-3.0-or-later
// The changes one complete listing of a folder makes to the files the library holds for it.
#include "index/ScanDiff.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace quillmere {

namespace {

std::string_view lastComponent(std::string_view relPath) {
  const std::size_t slash = relPath.rfind('/');
  return slash == std::string_view::npos ? relPath : relPath.substr(slash + 1);
}

bool differs(const MediaFile& known, const ScannedFile& entry) {
  return known.size != entry.size || std::abs(known.mtime - entry.mtime) > 0.5;
}

MediaFile changedRecord(const MediaFile& known, const ScannedFile& entry) {
  MediaFile update = known;
  update.size = entry.size;
  update.mtime = entry.mtime;
  update.state = FileState::pending;
  update.error.reset();
  update.taken.reset();  // new content: read again
  return update;
}

// Sorts the listing against the cache: known files that changed go to diff.changed, paths
// the cache lacks are returned as newcomers, and seen[i] tells whether cached[i] was listed.
std::vector<const ScannedFile*> compareListed(const std::vector<MediaFile>& cached,
                                              const std::vector<ScannedFile>& listing,
                                              std::vector<bool>& seen, ScanDiff& diff) {
  std::unordered_map<std::string_view, std::size_t> cachedByPath;
  for (std::size_t i = 0; i < cached.size(); ++i) cachedByPath.emplace(cached[i].relPath, i);
  std::unordered_set<std::string_view> seenNewcomers;
  std::vector<const ScannedFile*> newcomers;
  for (const ScannedFile& entry : listing) {
    auto found = cachedByPath.find(entry.relPath);
    if (found == cachedByPath.end()) {
      // A listing names each path once; a repeated path is taken once.
      if (seenNewcomers.insert(entry.relPath).second) newcomers.push_back(&entry);
      continue;
    }
    if (seen[found->second]) continue;
    seen[found->second] = true;
    const MediaFile& known = cached[found->second];
    if (differs(known, entry)) diff.changed.push_back(changedRecord(known, entry));
  }
  return newcomers;
}

// Newcomers with the move key of a vanished file take it over; the others are added, and the
// vanished files no newcomer claimed are removed.
void matchMoves(const std::vector<const MediaFile*>& vanished,
                const std::vector<const ScannedFile*>& newcomers, ScanDiff& diff) {
  std::unordered_map<std::string, std::size_t> vanishedByKey;
  for (std::size_t i = 0; i < vanished.size(); ++i) {
    const MediaFile& file = *vanished[i];
    vanishedByKey.insert_or_assign(ScanDiff::moveKey(file.relPath, file.size, file.mtime), i);
  }
  std::vector<bool> claimed(vanished.size(), false);
  for (const ScannedFile* entry : newcomers) {
    auto found = vanishedByKey.find(ScanDiff::moveKey(entry->relPath, entry->size, entry->mtime));
    if (found == vanishedByKey.end()) {
      diff.added.push_back(*entry);
      continue;
    }
    claimed[found->second] = true;
    diff.moved.push_back({.file = *vanished[found->second], .relPath = entry->relPath});
    vanishedByKey.erase(found);
  }
  for (std::size_t i = 0; i < vanished.size(); ++i) {
    if (!claimed[i]) diff.removed.push_back(*vanished[i]);
  }
}

}  // namespace

std::string ScanDiff::moveKey(const std::string& relPath, std::int64_t size, double mtime) {
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

bool ScanDiff::isWithin(std::string_view relPath, std::string_view path) {
  if (path.empty() || relPath == path) return true;
  return relPath.size() > path.size() && relPath.starts_with(path) && relPath[path.size()] == '/';
}

ScanDiff ScanDiff::between(const std::vector<MediaFile>& cached,
                           const std::vector<ScannedFile>& listing,
                           const std::vector<std::string>& unreadable) {
  if (!unreadable.empty()) {
    // Both sides without what the scan could not read: those files stay as they are.
    const auto known = [&](std::string_view relPath) {
      return std::none_of(unreadable.begin(), unreadable.end(),
                          [&](const std::string& path) { return isWithin(relPath, path); });
    };
    std::vector<MediaFile> readCached;
    for (const MediaFile& file : cached) {
      if (known(file.relPath)) readCached.push_back(file);
    }
    std::vector<ScannedFile> readListing;
    for (const ScannedFile& entry : listing) {
      if (known(entry.relPath)) readListing.push_back(entry);
    }
    return between(readCached, readListing);
  }
  ScanDiff diff;
  std::vector<bool> seen(cached.size(), false);
  const std::vector<const ScannedFile*> newcomers = compareListed(cached, listing, seen, diff);
  std::vector<const MediaFile*> vanished;
  for (std::size_t i = 0; i < cached.size(); ++i) {
    if (!seen[i]) vanished.push_back(&cached[i]);
  }
  matchMoves(vanished, newcomers, diff);
  return diff;
}

}  // namespace quillmere
