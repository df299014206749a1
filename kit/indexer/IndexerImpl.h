// SPDX-License-Identifier: GPL-3.0-or-later
// What is behind the indexer's face: the runs and their threads, composed of parts with one
// job each and a lock of their own (the scan queue, the pause, the progress, the stages, the
// photo and video pipelines, how unindexed files are left, the refused writes). Included by
// the indexer's own files only.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string_view>
#include <thread>
#include <vector>

#include "core/ThreadAnnotations.h"
#include "indexer/FileOutcomes.h"
#include "indexer/Indexer.h"
#include "indexer/PauseGate.h"
#include "indexer/PhotoPipeline.h"
#include "indexer/ProgressMeter.h"
#include "indexer/ScanQueue.h"
#include "indexer/StageSet.h"
#include "indexer/VideoPipeline.h"
#include "indexer/WriteRefusals.h"
#include "platform/MountTable.h"

namespace quillmere {

class Indexer::Impl {
 public:
  Impl(Indexer& owner, Library& library, Embedder& embedder, Policy policy,
       std::shared_ptr<const SystemConditions> conditions, std::filesystem::path systemRoot);
  ~Impl();

  Library& library() const { return library_; }
  Policy policy() const { return policy_; }
  Progress currentProgress() const { return progress_.current(); }
  void run(const std::optional<std::vector<std::int64_t>>& scan);
  void stop();
  void waitUntilIdle();
  void pause();
  void resume();
  bool isPausedByUser() const { return gate_.isPausedByUser(); }
  void addStage(std::shared_ptr<Stage> stage) { stages_.add(std::move(stage)); }
  void switchStage(std::string_view name, bool on) { stages_.turn(name, on); }

 private:
  // A thread the indexer started, joined once it has said it is done.
  struct Task {
    std::jthread thread;
    std::promise<void> finished;
    std::shared_future<void> done;
    std::atomic<bool> over{false};
  };

  // Folder id to the location it can be read at now.
  using Locations = std::map<std::int64_t, std::filesystem::path>;

  // The run's way through the pending files in order: the work after the current one is
  // looked up while the current photos are stored, and its photos decode meanwhile.
  struct Cursor {
    const Locations& roots;
    std::set<std::int64_t> rootIDs;
    std::optional<PendingOrder::Key> after;
    std::optional<std::vector<MediaFile>> upcoming;  // looked up early
    std::unique_ptr<PhotoPipeline::Batch> decoding;  // upcoming's photos, when it is photos
  };

  // Runs and threads.
  void startRun(std::vector<std::int64_t> ids);
  void startScanOnly(std::vector<std::int64_t> ids);
  std::vector<std::int64_t> allRootIDs() const;
  void reapFinished();
  void runBody(std::stop_token stop, std::vector<std::int64_t> ids);
  // Clears the run's handle unless a request came in since the loop's last look.
  bool endRunUnlessWoken(std::stop_token stop);
  // The scan-only thread's work: the queued folders, round after round, until none is left.
  void drainScans(std::stop_token stop);
  bool takeWake();  // reads and clears wake
  bool isWoken() const;

  // Folders.
  // The mount table as it is now, when no reachablePath answers for it.
  std::optional<MountTable> drives() const;
  std::optional<std::filesystem::path> location(const Root& root,
                                                const std::optional<MountTable>& drives) const;
  Locations reachableRoots() const;
  void scan(const std::vector<std::int64_t>& ids, std::stop_token stop);
  // One folder's scan, applied when the listing is whole.
  void scanFolder(std::int64_t id, std::stop_token stop);
  static std::set<std::int64_t> idsOf(const Locations& roots);

  // The pending files.
  void loop(std::stop_token stop);
  // Counts and bytes of the pending files of these folders, less those set aside in this
  // run (passed over or held back).
  PendingOrder::Sums pendingIn(const Locations& roots) const;
  // Indexes pending files from the first in order until none is left, the run is
  // cancelled or woken. False when it found none to take.
  bool workThrough(const Locations& roots, std::stop_token stop);
  // The next work after `after` in the pending order, which it moves on: up to photoBatch
  // photos or one video, less the files set aside; empty when none is left.
  std::vector<MediaFile> nextWork(const std::set<std::int64_t>& rootIDs,
                                  std::optional<PendingOrder::Key>& after) const;
  // The cursor's next work: the one looked up early, else the next in order.
  std::vector<MediaFile> takeWork(Cursor& cursor) const;
  // Looks up the work after the current one and, when it is photos, starts decoding them on
  // one thread; not when the run is ending, woken or paused.
  void lookAhead(Cursor& cursor, std::stop_token stop);
  std::unique_ptr<PhotoPipeline::Batch> batchOf(const std::vector<MediaFile>& work,
                                                const Locations& roots) const;
  // Reads the capture times the library lacks (files indexed before it kept them, or
  // failed) from the headers of the reachable folders' files; embeds nothing.
  void fillCaptureTimes(std::stop_token stop);
  // Older files gain the rows of the stages that are on, the progress saying so.
  void fillStages(std::stop_token stop);
  bool refused() const { return refusals_.endedRun(); }

  // Pausing.
  void waitWhilePaused(std::stop_token stop);
  // The end of a run's loop: the embedder's image side freed, the progress idle.
  void closeRun();
  void releaseImages();

  Indexer& owner_;
  Library& library_;
  Embedder& embedder_;
  const Policy policy_;
  const std::filesystem::path systemRoot_;
  WriteRefusals refusals_{refusalLimit};
  StageSet stages_;
  ProgressMeter progress_;
  PauseGate gate_;
  ScanQueue scans_;
  FileOutcomes outcomes_;
  PhotoPipeline photos_;
  VideoPipeline videos_;

  // Guards the run's handle, the threads not yet joined and whether the indexer closes or a
  // request came in during a run.
  mutable Mutex lock_;
  std::shared_ptr<Task> task_ GUARDED_BY(lock_);
  std::vector<std::shared_ptr<Task>> threads_ GUARDED_BY(lock_);
  bool closing_ GUARDED_BY(lock_) = false;
  bool wake_ GUARDED_BY(lock_) = false;
};

}  // namespace quillmere
