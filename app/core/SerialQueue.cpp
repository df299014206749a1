// SPDX-License-Identifier: GPL-3.0-or-later
// SerialQueue: the queue's thread, posting, and waiting for what was posted.
#include "SerialQueue.h"

#include <future>

#include <pthread.h>

namespace quillmere {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
  thread_ = std::thread([this] { run(); });
  // Thread names are at most 15 characters.
  pthread_setname_np(thread_.native_handle(), label_.substr(0, 15).c_str());
}

SerialQueue::~SerialQueue() {
  {
    MutexLock guard(lock_);
    stopping_ = true;
    items_.clear();
  }
  wake_.notify_all();
  thread_.join();
}

void SerialQueue::post(std::function<void()> work) {
  {
    MutexLock guard(lock_);
    items_.push_back(std::move(work));
  }
  wake_.notify_one();
}

void SerialQueue::sync() {
  std::promise<void> reached;
  auto done = reached.get_future();
  post([&reached] { reached.set_value(); });
  done.wait();
}

void SerialQueue::run() {
  for (;;) {
    std::function<void()> work;
    {
      MutexLock guard(lock_);
      while (!stopping_ && items_.empty()) wake_.wait(guard);
      if (stopping_) return;
      work = std::move(items_.front());
      items_.pop_front();
    }
    work();
  }
}

}  // namespace quillmere
