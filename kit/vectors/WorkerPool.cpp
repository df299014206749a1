// SPDX-License-Identifier: GPL-3.0-or-later
// The worker threads that run the vector scan's blocks.
#include "vectors/WorkerPool.h"

#include <algorithm>

namespace quillmere {

WorkerPool& WorkerPool::shared() {
  static WorkerPool pool(std::max(1u, std::thread::hardware_concurrency()) - 1);
  return pool;
}

WorkerPool::WorkerPool(std::size_t workers) {
  threads_.reserve(workers);
  for (std::size_t i = 0; i < workers; ++i) threads_.emplace_back([this, i] { work(i + 1); });
}

WorkerPool::~WorkerPool() {
  {
    MutexLock guard(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::drain(const Task& task, std::size_t count, std::size_t slot) {
  for (std::size_t i = next_.fetch_add(1); i < count; i = next_.fetch_add(1)) task(i, slot);
}

void WorkerPool::run(std::size_t count, const std::function<void(std::size_t)>& task) {
  run(count, Task([&task](std::size_t index, std::size_t) { task(index); }));
}

void WorkerPool::run(std::size_t count, const Task& task) {
  std::unique_lock job(jobLock_, std::try_to_lock);
  if (count <= 1 || threads_.empty() || !job.owns_lock()) {
    for (std::size_t i = 0; i < count; ++i) task(i, 0);
    return;
  }
  {
    MutexLock guard(lock_);
    task_ = &task;
    count_ = count;
    next_ = 0;
    pending_ = threads_.size();
    ++generation_;
  }
  wake_.notify_all();
  drain(task, count, 0);
  // Every worker checks in, so none can still be looking at this job when the next starts.
  MutexLock guard(lock_);
  while (pending_ != 0) done_.wait(guard);
  task_ = nullptr;
}

void WorkerPool::work(std::size_t slot) {
  // Jobs are counted from 0 at construction: a worker that starts after the first job was
  // posted still takes part in it.
  std::uint64_t seen = 0;
  MutexLock guard(lock_);
  for (;;) {
    // A loop rather than a predicate, so that the analysis sees the lock held.
    while (!stopping_ && generation_ == seen) wake_.wait(guard);
    if (stopping_) return;
    seen = generation_;
    const auto* task = task_;
    const std::size_t count = count_;
    guard.unlock();
    drain(*task, count, slot);
    guard.lock();
    if (--pending_ == 0) done_.notify_one();
  }
}

}  // namespace quillmere
