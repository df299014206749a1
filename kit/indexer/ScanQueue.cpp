// SPDX-License-Identifier: GPL-3.0-or-later
#include "indexer/ScanQueue.h"

#include <algorithm>

namespace quillmere {

bool ScanQueue::add(const std::vector<std::int64_t>& ids) {
  MutexLock guard(lock_);
  for (std::int64_t id : ids) {
    if (std::find(queue_.begin(), queue_.end(), id) == queue_.end()) queue_.push_back(id);
  }
  if (worker_) return false;  // it takes the queue in its next round
  worker_ = true;
  return true;
}

std::vector<std::int64_t> ScanQueue::takeRound(bool stopped) {
  MutexLock guard(lock_);
  if (stopped) queue_.clear();
  std::vector<std::int64_t> ids;
  ids.swap(queue_);
  if (ids.empty()) worker_ = false;
  return ids;
}

bool ScanQueue::begin(std::int64_t id) {
  MutexLock guard(lock_);
  if (scanning_.insert(id).second) return true;
  rescan_.insert(id);
  return false;
}

ScanQueue::End ScanQueue::end(std::int64_t id, bool stopped) {
  MutexLock guard(lock_);
  const bool asked = rescan_.erase(id) > 0;
  const End end{.again = asked && !stopped, .handOver = asked && stopped};
  if (!end.again) scanning_.erase(id);
  return end;
}

}  // namespace quillmere
