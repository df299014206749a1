// SPDX-License-Identifier: GPL-3.0-or-later
#include "indexer/PauseGate.h"

#include <utility>

#include "platform/PowerMonitor.h"

namespace quillmere {

PauseGate::PauseGate(std::shared_ptr<const SystemConditions> conditions,
                     const std::atomic<bool>& ignoreLowPower)
    : conditions_(conditions ? std::move(conditions) : std::make_shared<PowerMonitor>()),
      ignoreLowPower_(ignoreLowPower) {}

void PauseGate::pause() {
  MutexLock guard(lock_);
  userPaused_ = true;
}

void PauseGate::resume() {
  MutexLock guard(lock_);
  userPaused_ = false;
}

bool PauseGate::isPausedByUser() const {
  MutexLock guard(lock_);
  return userPaused_;
}

std::optional<indexing::PauseReason> PauseGate::reason() const {
  if (isPausedByUser()) return indexing::PauseReason::user;
  // The readings come from the system; they are taken without the lock.
  if (!ignoreLowPower_.load() && conditions_->lowPowerMode()) {
    return indexing::PauseReason::lowPower;
  }
  if (conditions_->thermalState() >= SystemConditions::ThermalState::serious) {
    return indexing::PauseReason::hot;
  }
  return std::nullopt;
}

void PauseGate::sleep(std::stop_token stop, std::chrono::milliseconds interval) {
  MutexLock guard(lock_);
  wakeUp_.wait_for(guard, stop, interval, [] { return false; });
}

}  // namespace quillmere
