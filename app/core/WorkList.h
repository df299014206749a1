// SPDX-License-Identifier: GPL-3.0-or-later
// Work handed from one thread to another through a list guarded by a std::mutex, which
// ThreadSanitizer sees (Qt's own hand-overs synchronise in code it cannot see).
#pragma once

#include <deque>
#include <functional>
#include <mutex>

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
  std::mutex lock_;  // guards work_
  std::deque<std::function<void()>> work_;
};

}  // namespace quillmere
