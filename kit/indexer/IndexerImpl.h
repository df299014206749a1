// SPDX-License-Identifier: GPL-3.0-or-later
// What is behind the indexer's face: its threads and scan queue, the pause, the progress and
// time left, the photo and video pipelines through the stages, and the refused writes.
// Included by the indexer's own files only.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "core/ThreadAnnotations.h"
#include "indexer/EmbedStage.h"
#include "indexer/Indexer.h"
#include "indexer/WriteRefusals.h"
#include "platform/MountTable.h"

namespace quillmere {

class Indexer::Impl {
 public:
  Impl(Indexer& owner, Library& library, Embedder& embedder, Policy policy,
       std::shared_ptr<const SystemConditions> conditions, std::filesystem::path systemRoot);
  ~Impl();

  Library& library() const { return library_; }
  Policy policy() const;
  Progress currentProgress() const;
  void run(const std::optional<std::vector<std::int64_t>>& scan);
  void stop();
  void waitUntilIdle();
  void pause();
  void resume();
  bool isPausedByUser() const;
  void addStage(std::shared_ptr<Stage> stage);
  void switchStage(std::string_view name, bool on);

  using Clock = std::chrono::steady_clock;

  // A thread the indexer started, joined once it has said it is done.
  struct Task {
    std::jthread thread;
    std::promise<void> finished;
    std::shared_future<void> done;
    std::atomic<bool> over{false};
  };

  struct PhotoJob {
    MediaFile file;
    std::filesystem::path path;
  };

  // One photo batch on its way through decode, embed, store and settle; slot i of every
  // list belongs to jobs[i].
  struct PhotoBatch {
    PhotoBatch(std::vector<PhotoJob> jobs, std::int64_t pixels);
    PhotoBatch(const PhotoBatch&) = delete;
    PhotoBatch& operator=(const PhotoBatch&) = delete;
    // Stops the decoder ahead, if any: the photos it has not taken stay for decodePhotos.
    void halt();
    const std::vector<PhotoJob> jobs;
    const std::int64_t pixels;  // the decode's longest side
    std::vector<std::optional<FrameSampler::Sampled>> sampled;
    std::vector<std::optional<Bytes>> thumbnails;
    std::vector<std::optional<CaptureTime>> taken;  // from the header each decode reads
    std::vector<std::optional<std::string>> errors;
    std::vector<std::vector<Library::StageRows>> stageRows;  // of the stages after the embedder
    std::vector<bool> stale;  // removed or changed by a scan meanwhile: neither stored nor marked
    std::vector<Library::FrameBatchEntry> entries;  // what is stored, in slot order
    std::vector<std::size_t> entryIndex;            // the slot of each entry
    std::atomic<std::size_t> nextJob{0};            // the next slot a decoder takes
    // Decodes while the batch before is stored and settled; last, so that it is stopped and
    // joined before the slots it writes go.
    std::jthread ahead;
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
    std::unique_ptr<PhotoBatch> decoding;            // upcoming's photos, when it is photos
  };

  void startRun(std::vector<std::int64_t> ids);
  void startScanOnly(std::vector<std::int64_t> ids);
  std::vector<std::int64_t> allRootIDs() const;
  void reapFinished();
  void runBody(std::stop_token stop, std::vector<std::int64_t> ids);
  // Clears the run's handle unless a request came in since the loop's last look.
  bool endRunUnlessWoken(std::stop_token stop);

  // The mount table as it is now, when no reachablePath answers for it.
  std::optional<MountTable> drives() const;
  std::optional<std::filesystem::path> location(const Root& root,
                                                const std::optional<MountTable>& drives) const;
  Locations reachableRoots() const;
  void scan(const std::vector<std::int64_t>& ids, std::stop_token stop);
  // One folder's scan, applied when the listing is whole.
  void scanFolder(std::int64_t id, std::stop_token stop);
  // The scan-only thread's work: the queued folders, round after round, until none is left.
  void drainScans(std::stop_token stop);
  void loop(std::stop_token stop);
  // Reads the capture times the library lacks (files indexed before it kept them, or
  // failed) from the headers of the reachable folders' files; embeds nothing.
  void fillCaptureTimes(std::stop_token stop);
  static std::set<std::int64_t> idsOf(const Locations& roots);
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
  bool takeWake();  // reads and clears wake
  bool isWoken() const;

  // Decodes, embeds, stores and settles the batch; the cursor looks ahead once it is embedded.
  void indexPhotos(PhotoBatch& batch, Cursor& cursor, std::stop_token stop);
  // Samples the photos no decoder has taken yet in parallel, with their thumbnails, and
  // waits for the decoder ahead; a failure becomes the slot's error. The decoders together
  // are never more than the hardware threads.
  static void decodePhotos(PhotoBatch& batch);
  // Takes and decodes photos of the batch until none is left or stop is asked.
  static void decodeSome(PhotoBatch& batch, std::stop_token stop);
  static void decodeOne(PhotoBatch& batch, std::size_t i);
  // Embeds the decoded photos, embedBatch at a time, and makes the entries of those still
  // listed.
  void embedPhotos(PhotoBatch& batch);
  // Stores the entries in one write, or one by one when the batch write fails.
  void storePhotos(PhotoBatch& batch);
  void storeOneByOne(PhotoBatch& batch, const std::exception_ptr& batchError);
  // Marks the failures, tells onFileIndexed, and books every photo with its share of time.
  void settlePhotos(PhotoBatch& batch, Clock::time_point started);
  void index(const MediaFile& file, const std::filesystem::path& filePath, std::stop_token stop);
  // One video on its way to the library: the kept frames not yet stored.
  struct VideoRun {
    const MediaFile& file;
    std::vector<FrameSampler::Frame> chunk;
    bool restart = true;  // the next write drops the frames the library holds for the file
    int stored = 0;       // frames stored by this run
    std::optional<CaptureTime> taken;  // stored with the last chunk
  };
  // Samples the video and stores its frames videoChunk at a time as they are kept, so that
  // memory does not grow with its length; the last chunk marks it indexed. Picks up after
  // the chunks an interrupted run stored. Returns the frames it stored; nothing when the
  // run was cancelled meanwhile (stored chunks stay, the file pending). Throws what
  // sampling, embedding or storing throws.
  std::optional<int> embedVideo(const MediaFile& file, const std::filesystem::path& filePath,
                                std::stop_token stop);
  // Where an interrupted run left the video: after its last stored frame, decoded again for
  // the scene comparison. Nothing (start over) when no frame is stored, the file on disk is
  // no longer the one listed, or that frame cannot be decoded.
  std::optional<FrameSampler::Resume> resumePoint(const MediaFile& file,
                                                  const std::filesystem::path& filePath,
                                                  const FrameSampler::VideoPlan& plan);
  // Embeds and stores the chunk; with info, as the video's last.
  void storeChunk(VideoRun& run, const std::optional<FrameSampler::VideoInfo>& info);
  // Runs the stages over the frames (their images are moved out) and appends their records
  // and rows to the entry.
  void embedChunk(std::vector<FrameSampler::Frame>& frames, Library::FrameBatchEntry& entry,
                  const MediaFile& file);
  // A failed file is marked only while it still exists, unchanged since it was listed; a
  // vanished one is passed over for the rest of the run (until a scan of its folder). True
  // when it was marked.
  bool recordFailure(const MediaFile& file, const std::filesystem::path& filePath,
                     const std::string& message);
  // A failed write of a file's state: held back when the library refused it.
  void refusedMark(const MediaFile& file, const std::exception& error);
  bool refused() const { return refusals_.endedRun(); }
  // The library still holds the file with the size and time it was listed with: no scan
  // removed it or found it changed since.
  bool stillListed(const MediaFile& file) const;

  // Scheduling and progress.
  std::optional<PauseReason> pauseReason() const;
  void waitWhilePaused(std::stop_token stop);
  void report(bool force);
  // Run bookkeeping: each look at the pending files sets the time-left counts; the first
  // sets the run's totals, later ones grow them; the end of a run goes idle.
  void countLeft(const PendingOrder::Sums& pending);
  void startTotals(const PendingOrder::Sums& pending);
  void growTotals(const PendingOrder::Sums& pending);
  void closeRun();
  void finish(const MediaFile& file, Clock::time_point started, int frames, bool counted);
  void estimate();
  void releaseImages();

  Indexer& owner_;
  WriteRefusals refusals_{refusalLimit};
  Library& library_;
  Embedder& embedder_;
  EmbedStage embed_;
  std::shared_ptr<const SystemConditions> conditions_;
  const std::filesystem::path systemRoot_;

  // The stages that are on, the embedder first.
  std::vector<std::shared_ptr<Stage>> stagesOn() const;
  // The stages' rows of the pictures; the embedder's are its vectors.
  struct StageOutput {
    std::vector<std::vector<Half>> vectors;               // per picture
    std::vector<std::vector<Library::StageRows>> others;  // per picture, per stage
    std::vector<std::string> names;  // of the stages after the embedder, in that order
  };
  StageOutput runStages(std::span<const StagePicture> pictures);
  // The largest picture a stage that is on asks for.
  std::int64_t decodePixels() const;
  // Gives the files indexed before a stage existed (or while it was off) that stage's rows:
  // their pictures decoded again, nothing embedded.
  void fillStages(std::stop_token stop);
  void fillStage(Stage& stage, const MediaFile& file, const std::filesystem::path& filePath);

  // Guards the members below marked GUARDED_BY: the run's handle and threads, the progress
  // and its bookkeeping, the scan queue, the pause and wake flags, the files passed over, the
  // stages.
  mutable Mutex lock_;
  std::condition_variable_any wakeUp_;  // cuts the pause sleep short on cancellation
  Policy policy_ GUARDED_BY(lock_);
  Progress progress_ GUARDED_BY(lock_);
  std::shared_ptr<Task> task_ GUARDED_BY(lock_);
  std::vector<std::shared_ptr<Task>> threads_ GUARDED_BY(lock_);  // every thread not yet joined
  bool closing_ GUARDED_BY(lock_) = false;
  bool userPaused_ GUARDED_BY(lock_) = false;
  bool wake_ GUARDED_BY(lock_) = false;
  std::optional<Clock::time_point> lastReport_ GUARDED_BY(lock_);
  std::optional<Phase> reportedPhase_ GUARDED_BY(lock_);  // of the last report
  std::map<std::int64_t, std::int64_t> unsupported_ GUARDED_BY(lock_);
  std::map<std::int64_t, std::vector<std::string>> unreadable_ GUARDED_BY(lock_);
  std::vector<std::int64_t> scanQueue_
      GUARDED_BY(lock_);                       // asked for during a run, in order, each once
  bool scanWorker_ GUARDED_BY(lock_) = false;  // a scan-only thread is taking the queue
  std::set<std::int64_t> scanning_ GUARDED_BY(lock_);  // folders whose scan is under way
  std::set<std::int64_t> rescan_ GUARDED_BY(lock_);    // of those, asked for again meanwhile
  double photoRate_ GUARDED_BY(lock_) = 6e-9;
  double videoRate_ GUARDED_BY(lock_) = 4e-8;
  int measured_ GUARDED_BY(lock_) = 0;
  std::int64_t leftPhotoBytes_ GUARDED_BY(lock_) = 0;
  std::int64_t leftVideoBytes_ GUARDED_BY(lock_) = 0;
  // Files found gone when they failed, by id, with their folder: not offered again until a
  // scan of that folder.
  std::map<std::int64_t, std::int64_t> passedOver_ GUARDED_BY(lock_);
  // The embedder's stage first, then the others as added, each with whether it is on.
  std::vector<std::pair<std::shared_ptr<Stage>, bool>> stages_ GUARDED_BY(lock_);
};

}  // namespace quillmere
