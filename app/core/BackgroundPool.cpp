// SPDX-License-Identifier: GPL-3.0-or-later
// BackgroundPool: posting work to the pool through the WorkList.
#include "BackgroundPool.h"

namespace quillmere {

BackgroundPool::BackgroundPool(int threads, int idleMilliseconds) {
  pool_.setMaxThreadCount(threads);
  pool_.setExpiryTimeout(idleMilliseconds);
}

BackgroundPool::~BackgroundPool() {
  work_.clear();
  pool_.waitForDone();
  std::lock_guard after(ended_);
}

void BackgroundPool::start(std::function<void()> work) {
  work_.push(std::move(work));
  // One runnable an item: whichever runs first takes the oldest.
  pool_.start([this] {
    if (const auto work = work_.take()) work();
    std::lock_guard end(ended_);
  });
}

}  // namespace quillmere
