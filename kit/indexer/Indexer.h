// SPDX-License-Identifier: GPL-3.0-or-later
// Brings the library up to date in the background. A run scans the requested folders and
// records what changed, then works through the pending files (photos newest first in
// batches of 16, then videos smallest first): each decoded picture goes through the stages
// that are on (the embedder first), and frames, vectors, thumbnails and the stages' rows are
// stored per batch or per video; each file ends indexed or failed with a message. Files
// indexed before a stage existed gain its rows at the end of a run. Progress goes to
// onProgress (at most four times a second while indexing); indexing pauses when the user
// asks, in power-saving mode and when the machine runs hot.
//
// Threads: one background thread per run, one scan-only thread at a time for the folders
// asked for during a run, and parallel photo decoding, all at background priority. A folder
// is never scanned by two threads at once. The callbacks are called on those threads, never
// with the indexer's lock held. The destructor stops and joins every thread it started; it
// must not be called from a callback.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "core/Records.h"
#include "index/Library.h"
#include "indexer/EmbedStage.h"
#include "indexer/IndexingProgress.h"
#include "platform/SystemConditions.h"
#include "scan/FrameSampler.h"

namespace quillmere {

class Embedder;

class Indexer {
 public:
  using PauseReason = indexing::PauseReason;
  using Phase = indexing::Phase;
  using Refusal = indexing::Refusal;
  using Problem = indexing::Problem;
  using Progress = indexing::Progress;
  using Filling = indexing::Filling;
  using Policy = indexing::Policy;

  static constexpr std::size_t photoBatch = 16;
  static constexpr std::size_t embedBatch = EmbedStage::batch;
  static constexpr std::size_t videoChunk = 8;
  static constexpr std::int64_t embedPixels = FrameSampler::embedPixels;
  static constexpr std::int64_t thumbnailPixels = 200;
  static constexpr std::chrono::milliseconds reportInterval{250};
  static constexpr std::chrono::milliseconds pausePoll{1000};
  static constexpr std::chrono::milliseconds fairRest{20};
  // Library writes refused in a row that end a run: each costs a decode and an embedding.
  static constexpr int refusalLimit = 3;

  // conditions defaults to the machine's own readings (PowerMonitor); the drives are read
  // below systemRoot (see MountTable).
  Indexer(Library& library, Embedder& embedder, Policy policy = {},
          std::shared_ptr<const SystemConditions> conditions = {},
          std::filesystem::path systemRoot = "/");
  ~Indexer();
  Indexer(const Indexer&) = delete;
  Indexer& operator=(const Indexer&) = delete;

  Library& library() const;
  Policy policy() const;

  // Set by the owner before the first run.
  std::function<void(const Progress&)> onProgress;
  std::function<void(const MediaFile&)> onFileIndexed;
  // Where a folder can be read now, or nothing (then the folder is unreachable); when unset,
  // FolderRules::reachablePath over the mount table.
  std::function<std::optional<std::filesystem::path>(const Root&)> reachablePath;
  // When true, power-saving mode does not pause indexing.
  std::atomic<bool> ignoreLowPower{false};

  // Adds a stage after the embedder, on; before the first run.
  void addStage(std::shared_ptr<Stage> stage);
  // A stage that is off is not run, nor are its rows added to older files; the embedder is
  // always on. Takes effect from the next picture.
  void switchStage(std::string_view name, bool on);

  Progress currentProgress() const;

  // Requests a run over the given folders (all, oldest added first, when absent; none, so
  // only what is pending gets indexed, when empty). Returns at once. During a run, the
  // folders are queued for the run's scan-only thread, which scans them in the order asked,
  // and the run looks again for pending files.
  void run(const std::optional<std::vector<std::int64_t>>& scan = std::nullopt);
  // Cancels the current run; a video in work keeps the chunks of frames it stored and stays
  // pending, and the next run resumes it after them.
  void stop();
  // Returns when no run is active and no scan asked for during one is still going.
  void waitUntilIdle();

  void pause();
  // Ends a user pause and indexes what is pending.
  void resume();

  class Impl;

 private:
  friend class IndexerInspection;  // tests
  bool isPausedByUser() const;

  std::unique_ptr<Impl> impl_;
};

}  // namespace quillmere
