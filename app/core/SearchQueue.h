// SPDX-License-Identifier: GPL-3.0-or-later
// A serial work queue on one thread of its own: items run one at a time, in the order they
// were posted. The model's "quillmere.search" queue embeds queries and searches on it, so
// that at most one query is being computed at any moment.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace quillmere {

class SearchQueue {
 public:
  explicit SearchQueue(std::string label);
  // Lets the running item finish, drops those still waiting, joins the thread.
  ~SearchQueue();
  SearchQueue(const SearchQueue&) = delete;
  SearchQueue& operator=(const SearchQueue&) = delete;

  const std::string& label() const { return label_; }

  // Returns at once; the item runs on the queue's thread after those posted before it.
  void post(std::function<void()> work);
  // Returns once every item posted before the call has run.
  void sync();

 private:
  void run();

  const std::string label_;
  std::mutex mutex_;  // guards items_ and stopping_
  std::condition_variable wake_;
  std::deque<std::function<void()>> items_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace quillmere
