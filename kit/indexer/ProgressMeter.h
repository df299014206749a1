// SPDX-License-Identifier: GPL-3.0-or-later
// The indexer's progress: the phase and counts of a run, the reports to its owner (while
// indexing at most four a second) and the time left, learnt from how fast files go. Rates
// are seconds per byte for each unit of the shares of the stages that are on, so a second
// stage's work counts in the estimate before it is measured and after a stage is switched.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/Records.h"
#include "core/ThreadAnnotations.h"
#include "index/PendingOrder.h"
#include "indexer/IndexingProgress.h"

namespace quillmere {

class StageSet;

class ProgressMeter {
 public:
  using Clock = std::chrono::steady_clock;
  using Progress = indexing::Progress;
  using Phase = indexing::Phase;

  // onProgress is read at each report: the owner sets it before the first run.
  ProgressMeter(const std::function<void(const Progress&)>& onProgress, const StageSet& stages);
  ProgressMeter(const ProgressMeter&) = delete;
  ProgressMeter& operator=(const ProgressMeter&) = delete;

  Progress current() const;
  // Hands a copy to onProgress, on the calling thread and without the lock. Indexing is
  // reported at most once per Indexer::reportInterval unless forced, but its start always.
  void report(bool force);

  void startRun();  // forgets the last run's problem
  void scanning();  // from idle
  void indexing();
  void idle();
  // Paused with the reason, and no time left until indexing goes on.
  void paused(indexing::PauseReason why);
  // The user's pause shows at once, unless idle.
  void pausedByUser();
  void resumed();                     // indexing, when paused
  void working(std::string current);  // the file, or the last photo of a batch, in work
  void failed(int files);
  // Older files gaining a stage's rows, as indexing; nothing when that is done.
  void filling(std::optional<indexing::Filling> filling);

  // Each look at the pending files sets the counts left; the first of a run sets its
  // totals, later ones grow them.
  void countLeft(const PendingOrder::Sums& pending);
  void startTotals(const PendingOrder::Sums& pending);
  void growTotals(const PendingOrder::Sums& pending);
  // A folder's last scan: the videos it could not take and the places it could not read
  // (full paths), said at the end of a run.
  void scanned(std::int64_t rootID, std::int64_t unsupportedVideos,
               std::vector<std::string> unreadable);
  // The end of a run: idle, with the scans' findings of the folders kept, and the refusal
  // that left files waiting, if any.
  void closeRun(const std::set<std::int64_t>& kept,
                const std::optional<indexing::Refusal>& refusal);
  // Books a file the run took on: the bytes left, the done counts and the throughput; with
  // counted, its time measures the rate of its kind.
  void finish(const MediaFile& file, Clock::time_point started, int frames, bool counted);

 private:
  void estimate();

  const std::function<void(const Progress&)>& onProgress_;
  const StageSet& stages_;

  mutable Mutex lock_;
  Progress progress_ GUARDED_BY(lock_);
  std::optional<Clock::time_point> lastReport_ GUARDED_BY(lock_);
  std::optional<Phase> reportedPhase_ GUARDED_BY(lock_);  // of the last report
  double photoRate_ GUARDED_BY(lock_) = 6e-9;
  double videoRate_ GUARDED_BY(lock_) = 4e-8;
  int measured_ GUARDED_BY(lock_) = 0;
  std::int64_t leftPhotoBytes_ GUARDED_BY(lock_) = 0;
  std::int64_t leftVideoBytes_ GUARDED_BY(lock_) = 0;
  std::map<std::int64_t, std::int64_t> unsupported_ GUARDED_BY(lock_);
  std::map<std::int64_t, std::vector<std::string>> unreadable_ GUARDED_BY(lock_);
};

}  // namespace quillmere
