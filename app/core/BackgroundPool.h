// SPDX-License-Identifier: GPL-3.0-or-later
// A bounded set of background threads (a QThreadPool) whose work passes through a WorkList
// rather than inside Qt's runnables, so that ThreadSanitizer sees the hand-over from the
// caller to the worker, and the end of each piece of work before the pool goes.
#pragma once

#include <QThreadPool>
#include <functional>
#include <mutex>

#include "WorkList.h"

namespace quillmere {

class BackgroundPool {
 public:
  // Idle threads are kept for idleMilliseconds before they end.
  BackgroundPool(int threads, int idleMilliseconds);
  BackgroundPool(const BackgroundPool&) = delete;
  BackgroundPool& operator=(const BackgroundPool&) = delete;
  // Drops the work not yet started and waits for the work running.
  ~BackgroundPool();

  // Safe from any thread; work runs on one of the pool's threads, in the order started.
  void start(std::function<void()> work);

 private:
  WorkList work_;
  // Taken as each piece of work ends and once more after the pool is done: Qt's own wait is
  // invisible to ThreadSanitizer, which would take what the work touched last for a race
  // with what is destroyed after the pool. Guards no member.
  std::mutex ended_;
  QThreadPool pool_;
};

}  // namespace quillmere
