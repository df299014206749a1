// SPDX-License-Identifier: GPL-3.0-or-later
#include "SearchQueue.h"

#include <future>

#include <pthread.h>

namespace quillmere {

SearchQueue::SearchQueue(std::string label) : label_(std::move(label)) {
  thread_ = std::thread([this] { run(); });
  // Thread names are at most 15 characters.
  pthread_setname_np(thread_.native_handle(), label_.substr(0, 15).c_str());
}

SearchQueue::~SearchQueue() {
  {
    std::lock_guard guard(mutex_);
    stopping_ = true;
    items_.clear();
  }
  wake_.notify_all();
  thread_.join();
}

void SearchQueue::post(std::function<void()> work) {
  {
    std::lock_guard guard(mutex_);
    items_.push_back(std::move(work));
  }
  wake_.notify_one();
}

void SearchQueue::sync() {
  std::promise<void> reached;
  auto done = reached.get_future();
  post([&reached] { reached.set_value(); });
  done.wait();
}

void SearchQueue::run() {
  for (;;) {
    std::function<void()> work;
    {
      std::unique_lock guard(mutex_);
      wake_.wait(guard, [this] { return stopping_ || !items_.empty(); });
      if (stopping_) return;
      work = std::move(items_.front());
      items_.pop_front();
    }
    work();
  }
}

}  // namespace quillmere
