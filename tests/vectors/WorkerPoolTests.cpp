// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "vectors/WorkerPool.h"

namespace quillmere {
namespace {

// Runs a job and returns how often each index was visited and by how many threads.
struct Visits {
  std::vector<int> times;
  std::size_t threads = 0;
};

Visits runJob(WorkerPool& pool, std::size_t count) {
  std::vector<std::atomic<int>> times(count);
  std::mutex lock;
  std::set<std::thread::id> threads;
  pool.run(count, [&](std::size_t i) {
    ++times[i];
    // Long enough that a woken worker gets a share.
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    std::lock_guard guard(lock);
    threads.insert(std::this_thread::get_id());
  });
  Visits visits;
  for (auto& time : times) visits.times.push_back(time.load());
  visits.threads = threads.size();
  return visits;
}

TEST(WorkerPool, EveryIndexRunsExactlyOnceAcrossThreads) {
  WorkerPool pool(3);
  EXPECT_EQ(pool.workers(), 3u);
  for (const std::size_t count : {0u, 1u, 2u, 7u, 489u}) {
    const Visits visits = runJob(pool, count);
    EXPECT_EQ(visits.times, std::vector<int>(count, 1)) << count;
  }
  EXPECT_GT(runJob(pool, 200).threads, 1u) << "the workers took part";
  // Many short jobs in a row: none is lost or run twice.
  std::atomic<std::size_t> total = 0;
  for (int job = 0; job < 300; ++job) pool.run(5, [&](std::size_t i) { total += i + 1; });
  EXPECT_EQ(total.load(), 300u * 15u);
}

TEST(WorkerPool, WithoutWorkersTheCallerDoesEverything) {
  WorkerPool pool(0);
  const Visits visits = runJob(pool, 12);
  EXPECT_EQ(visits.times, std::vector<int>(12, 1));
  EXPECT_EQ(visits.threads, 1u);
}

TEST(WorkerPool, ConcurrentCallersAllFinishTheirOwnJobs) {
  WorkerPool pool(2);
  std::vector<std::thread> callers;
  std::vector<std::vector<int>> results(4);
  for (std::size_t c = 0; c < results.size(); ++c) {
    callers.emplace_back([&, c] {
      for (int round = 0; round < 20; ++round) {
        std::vector<int> slots(64, 0);  // each index written by one call only
        pool.run(slots.size(), [&](std::size_t i) { slots[i] += static_cast<int>(c + i); });
        for (std::size_t i = 0; i < slots.size(); ++i) {
          if (slots[i] != static_cast<int>(c + i)) results[c].push_back(static_cast<int>(i));
        }
      }
    });
  }
  for (std::thread& caller : callers) caller.join();
  for (const auto& wrong : results) EXPECT_TRUE(wrong.empty());
}

TEST(WorkerPool, SharedPoolLeavesOneCoreToTheCaller) {
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  EXPECT_EQ(WorkerPool::shared().workers(), cores - 1);
  EXPECT_EQ(&WorkerPool::shared(), &WorkerPool::shared());
}

}  // namespace
}  // namespace quillmere
