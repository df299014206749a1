// SPDX-License-Identifier: GPL-3.0-or-later
// Brings the library up to date in the background. A run scans the requested folders and
// records what changed, then works through the pending files (photos newest first in
// batches of 16, then videos smallest first): frames, vectors and thumbnails are stored
// per batch or per video, and each file ends indexed or failed with a message. Progress
// goes to onProgress (at most four times a second while indexing); indexing pauses when
// the user asks, in power-saving mode and when the machine runs hot.
//
// Threads: one background thread per run, one scan-only thread at a time for the folders
// asked for during a run, and parallel photo decoding, all at background priority (the
// window and searches go first). A folder is never scanned by two
// threads at once: a request while its scan is under way is merged into one rescan after it.
// The callbacks are called on those threads, never with the indexer's lock held. The
// destructor stops and joins every thread it started; it must not be called from a callback.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "core/Records.h"
#include "core/ThreadAnnotations.h"
#include "index/Library.h"
#include "platform/MountTable.h"
#include "platform/SystemConditions.h"
#include "scan/FrameSampler.h"

namespace quillmere {

class Embedder;

class Indexer {
 public:
  enum class PauseReason { user, lowPower, hot };

  // "Paused", "Paused while Power Saver is on", "Paused while the computer cools down".
  static const char* text(PauseReason reason);

  // What the indexer is doing; reason is present exactly for paused.
  struct Phase {
    enum class Kind { paused, idle, scanning, indexing };
    Kind kind = Kind::idle;
    std::optional<PauseReason> reason;

    static Phase paused(PauseReason why) { return {Kind::paused, why}; }
    static Phase idle() { return {Kind::idle, std::nullopt}; }
    static Phase scanning() { return {Kind::scanning, std::nullopt}; }
    static Phase indexing() { return {Kind::indexing, std::nullopt}; }
    bool isPaused() const { return kind == Kind::paused; }
    bool operator==(const Phase&) const = default;
  };

  struct Progress {
    Phase phase;
    std::int64_t doneBytes = 0;   // bytes of the files finished in this run
    std::int64_t totalBytes = 0;  // bytes of all files of this run
    int doneFiles = 0;            // indexed, failed or passed over as vanished
    int totalFiles = 0;
    std::optional<double> secondsLeft;
    std::optional<std::string> current;  // the file (or last of the photo batch) in work
    double framesPerSecond = 0;          // smoothed embedded frames per second
    int failed = 0;                      // files that failed in this run
    std::int64_t unsupportedVideos = 0;  // over all folders, set when a run ends
    // Folders and files the last scans could not read, whose stored files are kept as they
    // were (full paths, in order; set when a run ends).
    std::vector<std::string> unreadable;
    // Why the last run left work undone, when the library refused its writes ("The library
    // can't be written: the disk holding /home/ann/.local/share/Quillmere is full. 28 files
    // wait to be indexed."); cleared by a new run.
    std::optional<std::string> problem;
    bool operator==(const Progress&) const = default;
  };

  struct Policy {
    FrameSampler::VideoPlan plan;
    bool operator==(const Policy&) const = default;
  };

  static constexpr std::size_t photoBatch = 16;
  // Pictures per encoder run: ViT-B/16-sized encoders, float and int8, run faster at 4 to 8
  // than at 16 on two cores (bench/run index_photos 3 batches).
  static constexpr std::size_t embedBatch = 8;
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

  Library& library() const { return library_; }
  Embedder& embedder() const { return embedder_; }

  Policy policy() const;

  // Set by the owner before the first run.
  std::function<void(const Progress&)> onProgress;
  std::function<void(const MediaFile&)> onFileIndexed;
  // Where a folder can be read now, or nothing (then the folder is unreachable); when unset,
  // FolderRules::reachablePath over the mount table.
  std::function<std::optional<std::filesystem::path>(const Root&)> reachableURL;
  // When true, power-saving mode does not pause indexing.
  std::atomic<bool> ignoreLowPower{false};

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
  bool isPausedByUser() const;

 private:
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
    std::filesystem::path url;
  };

  // One photo batch on its way through decode, embed, store and settle; slot i of every
  // list belongs to jobs[i].
  struct PhotoBatch {
    explicit PhotoBatch(std::vector<PhotoJob> jobs);
    PhotoBatch(const PhotoBatch&) = delete;
    PhotoBatch& operator=(const PhotoBatch&) = delete;
    // Stops the decoder ahead, if any: the photos it has not taken stay for decodePhotos.
    void halt();
    const std::vector<PhotoJob> jobs;
    std::vector<std::optional<FrameSampler::Sampled>> sampled;
    std::vector<std::optional<Bytes>> thumbnails;
    std::vector<std::optional<CaptureTime>> taken;  // from the header each decode reads
    std::vector<std::optional<std::string>> errors;
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

  // The mount table as it is now, when no reachableURL answers for it.
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
  void index(const MediaFile& file, const std::filesystem::path& url, std::stop_token stop);
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
  std::optional<int> embedVideo(const MediaFile& file, const std::filesystem::path& url,
                                std::stop_token stop);
  // Where an interrupted run left the video: after its last stored frame, decoded again for
  // the scene comparison. Nothing (start over) when no frame is stored, the file on disk is
  // no longer the one listed, or that frame cannot be decoded.
  std::optional<FrameSampler::Resume> resumePoint(const MediaFile& file,
                                                  const std::filesystem::path& url,
                                                  const FrameSampler::VideoPlan& plan);
  // Embeds and stores the chunk; with info, as the video's last.
  void storeChunk(VideoRun& run, const std::optional<FrameSampler::VideoInfo>& info);
  // Embeds the frames (their images are moved out) and appends their records.
  void embedChunk(std::vector<FrameSampler::Frame>& frames, std::vector<FrameRecord>& records);
  // A failed file is marked only while it still exists, unchanged since it was listed; a
  // vanished one is passed over for the rest of the run (until a scan of its folder). True
  // when it was marked.
  bool recordFailure(const MediaFile& file, const std::filesystem::path& url,
                     const std::string& message);
  // Files of a write the library refused (full disk, I/O error, read-only) are left as they
  // were and passed over for the rest of the run; refusalLimit refusals in a row end the
  // run. The run's end says why, after any refusal.
  void holdBack(const std::vector<std::int64_t>& fileIDs, const std::string& reason);
  void countWritten();  // a write went through: refusals in a row start again from none
  bool isHeldBack(std::int64_t fileID) const;
  bool refused() const;
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

  Library& library_;
  Embedder& embedder_;
  std::shared_ptr<const SystemConditions> conditions_;
  const std::filesystem::path systemRoot_;

  // Guards the members below marked GUARDED_BY: the run's handle and threads, the progress
  // and its bookkeeping, the scan queue, the pause and wake flags, the files passed over or
  // held back.
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
  // Files whose writes the library refused in this run: not offered again before the next.
  std::set<std::int64_t> heldBack_ GUARDED_BY(lock_);
  int refusedWrites_ GUARDED_BY(lock_) = 0;  // library writes refused in a row in this run
  std::optional<std::string> refusal_ GUARDED_BY(lock_);  // set when refusals ended the run
  // Why the last refused write of this run was refused ("the disk holding … is full").
  std::optional<std::string> lastRefusal_ GUARDED_BY(lock_);
};

}  // namespace quillmere
