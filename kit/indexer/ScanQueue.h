// SPDX-License-Identifier: GPL-3.0-or-later
// The folders asked for during a run, waiting in order for the scan-only thread, and the
// folders whose scan is under way: a folder is never scanned by two threads at once, and a
// scan asked for while one goes on is made again after it.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "core/ThreadAnnotations.h"

namespace quillmere {

class ScanQueue {
 public:
  // Queues the folders not queued yet; true when no scan-only thread takes the queue, so the
  // caller starts one.
  bool add(const std::vector<std::int64_t>& ids);
  // The scan-only thread's next round, the whole queue (dropped when stopped); when there is
  // none, the thread is done and the next add asks for another.
  std::vector<std::int64_t> takeRound(bool stopped);

  // False when the folder is being scanned elsewhere: that scan is then made again.
  bool begin(std::int64_t id);
  struct End {
    bool again = false;     // asked for meanwhile: scan it once more now
    bool handOver = false;  // asked for meanwhile, but stopped: the request still stands
  };
  End end(std::int64_t id, bool stopped);

 private:
  mutable Mutex lock_;
  std::vector<std::int64_t> queue_ GUARDED_BY(lock_);  // in order, each once
  bool worker_ GUARDED_BY(lock_) = false;              // a scan-only thread takes the queue
  std::set<std::int64_t> scanning_ GUARDED_BY(lock_);
  std::set<std::int64_t> rescan_ GUARDED_BY(lock_);  // of those, asked for again meanwhile
};

}  // namespace quillmere
