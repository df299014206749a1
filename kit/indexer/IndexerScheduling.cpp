// SPDX-License-Identifier: GPL-3.0-or-later
// The indexer's manners: pausing, the progress report throttle and the time-left estimate.
#include <algorithm>
#include <utility>

#include "indexer/IndexerImpl.h"

namespace quillmere {
void Indexer::Impl::pause() {
  {
    MutexLock guard(lock_);
    userPaused_ = true;
    if (progress_.phase != Phase::idle()) progress_.phase = Phase::paused(PauseReason::user);
  }
  report(false);
}

void Indexer::Impl::resume() {
  {
    MutexLock guard(lock_);
    userPaused_ = false;
    if (progress_.phase.isPaused()) progress_.phase = Phase::indexing();
  }
  report(false);
  run(std::vector<std::int64_t>{});
}

bool Indexer::Impl::isPausedByUser() const {
  MutexLock guard(lock_);
  return userPaused_;
}

std::optional<Indexer::PauseReason> Indexer::Impl::pauseReason() const {
  {
    MutexLock guard(lock_);
    if (userPaused_) return PauseReason::user;
  }
  // The readings come from the system; they are taken without the lock.
  if (!owner_.ignoreLowPower.load() && conditions_->lowPowerMode()) return PauseReason::lowPower;
  if (conditions_->thermalState() >= SystemConditions::ThermalState::serious) {
    return PauseReason::hot;
  }
  return std::nullopt;
}

void Indexer::Impl::waitWhilePaused(std::stop_token stop) {
  if (stop.stop_requested()) return;
  std::optional<PauseReason> reason = pauseReason();
  if (!reason) return;
  for (;;) {
    {
      MutexLock guard(lock_);
      progress_.phase = Phase::paused(*reason);
      progress_.secondsLeft.reset();
    }
    report(false);
    releaseImages();
    {
      MutexLock guard(lock_);
      // Returns early only when the run is cancelled.
      wakeUp_.wait_for(guard, stop, pausePoll, [] { return false; });
    }
    reason = pauseReason();
    if (stop.stop_requested() || !reason) {
      {
        MutexLock guard(lock_);
        progress_.phase = Phase::indexing();
      }
      report(false);
      return;
    }
  }
}

void Indexer::Impl::countLeft(const PendingOrder::Sums& pending) {
  MutexLock guard(lock_);
  leftPhotoBytes_ = pending.photoBytes;
  leftVideoBytes_ = pending.videoBytes;
}

void Indexer::Impl::startTotals(const PendingOrder::Sums& pending) {
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

void Indexer::Impl::growTotals(const PendingOrder::Sums& pending) {
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

void Indexer::Impl::closeRun() {
  releaseImages();
  std::set<std::int64_t> kept;  // folders still in the library
  try {
    for (const Root& root : library_.roots()) kept.insert(root.id);
  } catch (const std::exception&) {
    kept.clear();  // nothing is known: nothing said about unreadable folders
  }
  const std::optional<indexing::Refusal> refusal = refusals_.last();
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

void Indexer::Impl::report(bool force) {
  const Clock::time_point now = Clock::now();
  Progress copy;
  {
    MutexLock guard(lock_);
    // Indexing is reported at most four times a second, but its start always: a short run
    // would otherwise seem to go from scanning straight to idle.
    if (!force && progress_.phase == Phase::indexing() && reportedPhase_ == progress_.phase &&
        lastReport_ && now - *lastReport_ < reportInterval) {
      return;
    }
    lastReport_ = now;
    reportedPhase_ = progress_.phase;
    copy = progress_;
  }
  if (owner_.onProgress) owner_.onProgress(copy);
}

void Indexer::Impl::finish(const MediaFile& file, Clock::time_point started, int frames,
                           bool counted) {
  const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
  {
    MutexLock guard(lock_);
    const bool video = file.kind == MediaKind::video;
    std::int64_t& left = video ? leftVideoBytes_ : leftPhotoBytes_;
    left = std::max<std::int64_t>(0, left - file.size);
    if (counted && file.size > 0) {
      const double sample = elapsed / static_cast<double>(file.size);
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

void Indexer::Impl::estimate() {
  {
    MutexLock guard(lock_);
    if (measured_ < 3) {
      progress_.secondsLeft.reset();
    } else {
      progress_.secondsLeft = photoRate_ * static_cast<double>(leftPhotoBytes_) +
                              videoRate_ * static_cast<double>(leftVideoBytes_);
    }
  }
  report(false);
}

}  // namespace quillmere
