// SPDX-License-Identifier: GPL-3.0-or-later
// A serial work queue on one thread of its own, named after its label: items run one at a
// time, in the order they were posted. The searches, the refinements, the duplicate finder
// and the model import each have one, so that at most one of each runs at any moment.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <string>
#include <thread>

#include "core/ThreadAnnotations.h"

namespace quillmere {

class SerialQueue {
 public:
  explicit SerialQueue(std::string label);
  // Lets the running item finish, drops those still waiting, joins the thread.
  ~SerialQueue();
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  const std::string& label() const { return label_; }

  // Returns at once; the item runs on the queue's thread after those posted before it.
  void post(std::function<void()> work);
  // Returns once every item posted before the call has run.
  void sync();

 private:
  void run();

  const std::string label_;
  Mutex lock_;
  std::condition_variable_any wake_;
  std::deque<std::function<void()>> items_ GUARDED_BY(lock_);
  bool stopping_ GUARDED_BY(lock_) = false;
  std::thread thread_;
};

}  // namespace quillmere
