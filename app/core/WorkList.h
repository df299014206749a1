// SPDX-License-Identifier: GPL-3.0-or-later
// Work handed from one thread to another through a list guarded by a mutex (a std::mutex
// underneath), which ThreadSanitizer sees (Qt's own hand-overs synchronise in code it cannot see).
#pragma once

#include <deque>
#include <functional>

#include "core/ThreadAnnotations.h"

namespace quillmere {

class WorkList {
 public:
  WorkList() = default;
  WorkList(const WorkList&) = delete;
  WorkList& operator=(const WorkList&) = delete;
  // Empties the list under its mutex: the last push, from another thread, then visibly
  // happens before the list goes.
  ~WorkList();

  void push(std::function<void()> work);
  // The oldest work, or an empty function when there is none.
  std::function<void()> take();
  void clear();

 private:
  Mutex lock_;
  std::deque<std::function<void()>> work_ GUARDED_BY(lock_);
};

}  // namespace quillmere
