// SPDX-License-Identifier: GPL-3.0-or-later
// Whether indexing is to pause now, and why: the user's pause first, then power-saving mode
// (unless the owner chose to index anyway), then heat. The user's pause lasts across runs
// until resumed; the machine's readings are taken at each look.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <optional>
#include <stop_token>

#include "core/ThreadAnnotations.h"
#include "indexer/IndexingProgress.h"
#include "platform/SystemConditions.h"

namespace quillmere {

class PauseGate {
 public:
  PauseGate(std::shared_ptr<const SystemConditions> conditions,
            const std::atomic<bool>& ignoreLowPower);

  void pause();  // by the user
  void resume();
  bool isPausedByUser() const;
  std::optional<indexing::PauseReason> reason() const;
  const SystemConditions& conditions() const { return *conditions_; }
  // Sleeps a pause's interval; returns early only when stop is asked.
  void sleep(std::stop_token stop, std::chrono::milliseconds interval);

 private:
  const std::shared_ptr<const SystemConditions> conditions_;
  const std::atomic<bool>& ignoreLowPower_;
  mutable Mutex lock_;
  std::condition_variable_any wakeUp_;  // only cancellation wakes it
  bool userPaused_ GUARDED_BY(lock_) = false;
};

}  // namespace quillmere
