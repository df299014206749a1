// SPDX-License-Identifier: GPL-3.0-or-later
#include "indexer/ProgressMeter.h"

#include <algorithm>
#include <utility>

#include "indexer/Indexer.h"
#include "indexer/StageSet.h"

namespace quillmere {

ProgressMeter::ProgressMeter(const std::function<void(const Progress&)>& onProgress,
                             const StageSet& stages)
    : onProgress_(onProgress), stages_(stages) {}

ProgressMeter::Progress ProgressMeter::current() const {
  MutexLock guard(lock_);
  return progress_;
}

void ProgressMeter::report(bool force) {
  const Clock::time_point now = Clock::now();
  Progress copy;
  {
    MutexLock guard(lock_);
    // A short run would otherwise seem to go from scanning straight to idle.
    if (!force && progress_.phase == Phase::indexing() && reportedPhase_ == progress_.phase &&
        lastReport_ && now - *lastReport_ < Indexer::reportInterval) {
      return;
    }
    lastReport_ = now;
    reportedPhase_ = progress_.phase;
    copy = progress_;
  }
  if (onProgress_) onProgress_(copy);
}

void ProgressMeter::startRun() {
  MutexLock guard(lock_);
  progress_.problem.reset();
}

void ProgressMeter::scanning() {
  MutexLock guard(lock_);
  if (progress_.phase == Phase::idle()) progress_.phase = Phase::scanning();
}

void ProgressMeter::indexing() {
  MutexLock guard(lock_);
  progress_.phase = Phase::indexing();
}

void ProgressMeter::idle() {
  MutexLock guard(lock_);
  progress_.phase = Phase::idle();
}

void ProgressMeter::paused(indexing::PauseReason why) {
  MutexLock guard(lock_);
  progress_.phase = Phase::paused(why);
  progress_.secondsLeft.reset();
}

void ProgressMeter::pausedByUser() {
  MutexLock guard(lock_);
  if (progress_.phase != Phase::idle())
    progress_.phase = Phase::paused(indexing::PauseReason::user);
}

void ProgressMeter::resumed() {
  MutexLock guard(lock_);
  if (progress_.phase.isPaused()) progress_.phase = Phase::indexing();
}

void ProgressMeter::working(std::string current) {
  MutexLock guard(lock_);
  progress_.current = std::move(current);
}

void ProgressMeter::filling(std::optional<indexing::Filling> filling) {
  MutexLock guard(lock_);
  if (filling && !progress_.phase.isPaused()) progress_.phase = Phase::indexing();
  progress_.filling = std::move(filling);
}

void ProgressMeter::failed(int files) {
  MutexLock guard(lock_);
  progress_.failed += files;
}

void ProgressMeter::countLeft(const PendingOrder::Sums& pending) {
  MutexLock guard(lock_);
  leftPhotoBytes_ = pending.photoBytes;
  leftVideoBytes_ = pending.videoBytes;
}

void ProgressMeter::startTotals(const PendingOrder::Sums& pending) {
  {
    MutexLock guard(lock_);
    progress_.phase = Phase::indexing();
    progress_.totalBytes = pending.photoBytes + pending.videoBytes;
    progress_.doneBytes = 0;
    progress_.doneFiles = 0;
    progress_.totalFiles = static_cast<int>(pending.files());
    progress_.failed = 0;
    progress_.secondsLeft.reset();
  }
  report(false);
}

void ProgressMeter::growTotals(const PendingOrder::Sums& pending) {
  {
    MutexLock guard(lock_);
    const std::int64_t remaining = std::max(0, progress_.totalFiles - progress_.doneFiles);
    if (pending.files() <= remaining) return;
    progress_.totalFiles += static_cast<int>(pending.files() - remaining);
    const std::int64_t remainingBytes =
        std::max<std::int64_t>(0, progress_.totalBytes - progress_.doneBytes);
    progress_.totalBytes +=
        std::max<std::int64_t>(0, pending.photoBytes + pending.videoBytes - remainingBytes);
  }
  report(false);
}

void ProgressMeter::scanned(std::int64_t rootID, std::int64_t unsupportedVideos,
                            std::vector<std::string> unreadable) {
  MutexLock guard(lock_);
  unsupported_[rootID] = unsupportedVideos;
  unreadable_[rootID] = std::move(unreadable);
}

void ProgressMeter::closeRun(const std::set<std::int64_t>& kept,
                             const std::optional<indexing::Refusal>& refusal) {
  {
    MutexLock guard(lock_);
    progress_.phase = Phase::idle();
    progress_.secondsLeft.reset();
    progress_.current.reset();
    std::int64_t sum = 0;
    for (const auto& [id, count] : unsupported_) sum += count;
    progress_.unsupportedVideos = sum;
    progress_.unreadable.clear();
    for (const auto& [id, paths] : unreadable_) {
      if (!kept.contains(id)) continue;
      progress_.unreadable.insert(progress_.unreadable.end(), paths.begin(), paths.end());
    }
    std::sort(progress_.unreadable.begin(), progress_.unreadable.end());
    progress_.problem.reset();
    if (refusal) {
      progress_.problem = indexing::Problem{.refusal = *refusal,
                                            .waiting = progress_.totalFiles - progress_.doneFiles};
    }
  }
  report(false);
}

void ProgressMeter::finish(const MediaFile& file, Clock::time_point started, int frames,
                           bool counted) {
  const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
  const double share = stages_.share();
  {
    MutexLock guard(lock_);
    const bool video = file.kind == MediaKind::video;
    std::int64_t& left = video ? leftVideoBytes_ : leftPhotoBytes_;
    left = std::max<std::int64_t>(0, left - file.size);
    if (counted && file.size > 0) {
      const double sample = elapsed / (static_cast<double>(file.size) * share);
      const double alpha = video ? 0.3 : 0.1;
      double& rate = video ? videoRate_ : photoRate_;
      rate = measured_ >= 3 ? alpha * sample + (1 - alpha) * rate : sample;
      measured_ += 1;
    }
    progress_.doneFiles += 1;
    progress_.doneBytes += file.size;
    // A file that arrived after the last look and was taken before the next one.
    progress_.totalFiles = std::max(progress_.totalFiles, progress_.doneFiles);
    progress_.totalBytes = std::max(progress_.totalBytes, progress_.doneBytes);
    if (elapsed > 0 && frames >= 1) {
      progress_.framesPerSecond = 0.2 * frames / elapsed + 0.8 * progress_.framesPerSecond;
    }
  }
  report(false);
  estimate();
}

void ProgressMeter::estimate() {
  const double share = stages_.share();
  {
    MutexLock guard(lock_);
    if (measured_ < 3) {
      progress_.secondsLeft.reset();
    } else {
      progress_.secondsLeft = share * (photoRate_ * static_cast<double>(leftPhotoBytes_) +
                                       videoRate_ * static_cast<double>(leftVideoBytes_));
    }
  }
  report(false);
}

}  // namespace quillmere
