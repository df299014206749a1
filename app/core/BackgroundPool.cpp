#include "BackgroundPool.h"

namespace quillmere {

BackgroundPool::BackgroundPool(int threads, int idleMilliseconds) {
  pool_.setMaxThreadCount(threads);
  pool_.setExpiryTimeout(idleMilliseconds);
}

BackgroundPool::~BackgroundPool() {
  {
    std::lock_guard guard(mutex_);
    work_.clear();
  }
  pool_.waitForDone();
}

void BackgroundPool::start(std::function<void()> work) {
  {
    std::lock_guard guard(mutex_);
    work_.push_back(std::move(work));
  }
  // One runnable an item: whichever runs first takes the oldest.
  pool_.start([this] { runOne(); });
}

void BackgroundPool::runOne() {
  std::function<void()> work;
  {
    std::lock_guard guard(mutex_);
    if (work_.empty()) return;
    work = std::move(work_.front());
    work_.pop_front();
  }
  work();
}

}  // namespace quillmere
