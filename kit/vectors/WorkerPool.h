// SPDX-License-Identifier: GPL-3.0-or-later
// A fixed set of worker threads for the vector scan: run(count, task) calls task(i, slot) once
// for every i below count, spread over the workers and the calling thread, and returns when
// all calls are done. slot (below slots()) names the thread making the call within this job,
// so that a job can keep per-thread results without locks. One job runs at a time; a caller
// that finds the pool busy with another caller's job does its own job alone rather than wait.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "core/ThreadAnnotations.h"

namespace quillmere {

class WorkerPool {
 public:
  // One worker fewer than the machine has cores (the caller is the last one); made on
  // first use.
  static WorkerPool& shared();

  explicit WorkerPool(std::size_t workers);
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  ~WorkerPool();

  using Task = std::function<void(std::size_t index, std::size_t slot)>;

  std::size_t workers() const { return threads_.size(); }
  // The threads a job may run on: the workers and the caller (slot 0).
  std::size_t slots() const { return threads_.size() + 1; }
  // task must not throw.
  void run(std::size_t count, const Task& task);
  void run(std::size_t count, const std::function<void(std::size_t)>& task);

 private:
  void work(std::size_t slot);
  void drain(const Task& task, std::size_t count, std::size_t slot);

  std::mutex jobLock_;  // held by the caller whose job is running; guards no member
  Mutex lock_;
  std::condition_variable_any wake_;
  std::condition_variable_any done_;
  const Task* task_ GUARDED_BY(lock_) = nullptr;
  std::size_t count_ GUARDED_BY(lock_) = 0;
  std::uint64_t generation_ GUARDED_BY(lock_) = 0;
  // Workers that have not yet finished the current job.
  std::size_t pending_ GUARDED_BY(lock_) = 0;
  bool stopping_ GUARDED_BY(lock_) = false;
  std::atomic<std::size_t> next_ = 0;  // the next index to hand out
  std::vector<std::thread> threads_;
};

}  // namespace quillmere
