// SPDX-License-Identifier: GPL-3.0-or-later
#include "index/PendingOrder.h"

namespace quillmere {

PendingOrder::Key PendingOrder::Key::of(const MediaFile& file) {
  return {.kind = file.kind, .mtime = file.mtime, .size = file.size, .id = file.id};
}

bool operator<(const PendingOrder::Key& a, const PendingOrder::Key& b) {
  if (a.kind != b.kind) return a.kind == MediaKind::photo;
  if (a.kind == MediaKind::photo && a.mtime != b.mtime) return a.mtime > b.mtime;
  if (a.kind == MediaKind::video && a.size != b.size) return a.size < b.size;
  return a.id < b.id;
}

void PendingOrder::add(const MediaFile& file) {
  if (file.state != FileState::pending) return;
  Folder& folder = folders_[file.rootID];
  if (!folder.keys.insert(Key::of(file)).second) return;
  const bool photo = file.kind == MediaKind::photo;
  (photo ? folder.sums.photos : folder.sums.videos) += 1;
  (photo ? folder.sums.photoBytes : folder.sums.videoBytes) += file.size;
}

void PendingOrder::remove(const MediaFile& file) {
  if (file.state != FileState::pending) return;
  auto found = folders_.find(file.rootID);
  if (found == folders_.end() || found->second.keys.erase(Key::of(file)) == 0) return;
  Folder& folder = found->second;
  const bool photo = file.kind == MediaKind::photo;
  (photo ? folder.sums.photos : folder.sums.videos) -= 1;
  (photo ? folder.sums.photoBytes : folder.sums.videoBytes) -= file.size;
  if (folder.keys.empty()) folders_.erase(found);
}

void PendingOrder::clear() {
  folders_.clear();
}

std::vector<PendingOrder::Key> PendingOrder::next(const std::set<std::int64_t>& roots,
                                                  const std::optional<Key>& after,
                                                  std::size_t count) const {
  // A merge of the folders' own orders: each step takes the least of their fronts.
  using Cursor = std::pair<std::set<Key>::const_iterator, std::set<Key>::const_iterator>;
  std::vector<Cursor> cursors;
  for (std::int64_t id : roots) {
    auto folder = folders_.find(id);
    if (folder == folders_.end()) continue;
    const std::set<Key>& keys = folder->second.keys;
    auto from = after ? keys.upper_bound(*after) : keys.begin();
    if (from != keys.end()) cursors.emplace_back(from, keys.end());
  }
  std::vector<Key> keys;
  while (keys.size() < count && !cursors.empty()) {
    auto least = cursors.begin();
    for (auto c = cursors.begin() + 1; c != cursors.end(); ++c) {
      if (*c->first < *least->first) least = c;
    }
    keys.push_back(*least->first);
    if (++least->first == least->second) cursors.erase(least);
  }
  return keys;
}

PendingOrder::Sums PendingOrder::sums(const std::set<std::int64_t>& roots) const {
  Sums total;
  for (std::int64_t id : roots) {
    auto folder = folders_.find(id);
    if (folder == folders_.end()) continue;
    const Sums& sums = folder->second.sums;
    total.photos += sums.photos;
    total.photoBytes += sums.photoBytes;
    total.videos += sums.videos;
    total.videoBytes += sums.videoBytes;
  }
  return total;
}

}  // namespace quillmere
