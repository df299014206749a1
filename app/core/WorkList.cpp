// SPDX-License-Identifier: GPL-3.0-or-later
// WorkList: the guarded list of work between threads.
#include "WorkList.h"

namespace quillmere {

WorkList::~WorkList() {
  clear();
}

void WorkList::push(std::function<void()> work) {
  MutexLock guard(lock_);
  work_.push_back(std::move(work));
}

std::function<void()> WorkList::take() {
  MutexLock guard(lock_);
  if (work_.empty()) return {};
  std::function<void()> work = std::move(work_.front());
  work_.pop_front();
  return work;
}

void WorkList::clear() {
  MutexLock guard(lock_);
  work_.clear();
}

}  // namespace quillmere
