// SPDX-License-Identifier: GPL-3.0-or-later
// The memory budget of photo decodes: a decode waits while others hold its room, and one
// larger than the whole budget still runs, alone.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "indexer/DecodeBudget.h"

namespace quillmere {
namespace {

TEST(DecodeBudgetConcurrency, WaitsForRoomAndLetsAHugeDecodeRunAlone) {
  DecodeBudget budget(100);
  std::optional<DecodeBudget::Hold> first(std::in_place, budget, 60);
  std::atomic<bool> secondRan = false;
  std::jthread second([&] {
    const DecodeBudget::Hold hold(budget, 60);
    secondRan = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(secondRan) << "60 + 60 does not fit in 100";
  first.reset();
  second.join();
  EXPECT_TRUE(secondRan);
  EXPECT_EQ(budget.inUse(), 0);
  {
    const DecodeBudget::Hold huge(budget, 1000);
    EXPECT_EQ(budget.inUse(), 1000);
  }
  EXPECT_EQ(DecodeBudget::estimate(16384, 16384), std::int64_t{5} << 28);
}

}  // namespace
}  // namespace quillmere
