// SPDX-License-Identifier: GPL-3.0-or-later
// The indexer's runs: their threads, scanning folders and indexing photos and videos.
#include "indexer/IndexerImpl.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <system_error>
#include <utility>

#include "index/FolderRules.h"
#include "model/Embedder.h"
#include "platform/ThreadPriority.h"
#include "scan/Scanner.h"

namespace quillmere {

Indexer::Indexer(Library& library, Embedder& embedder, Policy policy,
                 std::shared_ptr<const SystemConditions> conditions,
                 std::filesystem::path systemRoot)
    : impl_(std::make_unique<Impl>(*this, library, embedder, std::move(policy),
                                   std::move(conditions), std::move(systemRoot))) {}

// The threads end before the callbacks they call go.
Indexer::~Indexer() {
  impl_.reset();
}

Library& Indexer::library() const {
  return impl_->library();
}
Indexer::Policy Indexer::policy() const {
  return impl_->policy();
}
Indexer::Progress Indexer::currentProgress() const {
  return impl_->currentProgress();
}
void Indexer::addStage(std::shared_ptr<Stage> stage) {
  impl_->addStage(std::move(stage));
}
void Indexer::switchStage(std::string_view name, bool on) {
  impl_->switchStage(name, on);
}
void Indexer::run(const std::optional<std::vector<std::int64_t>>& scan) {
  impl_->run(scan);
}
void Indexer::stop() {
  impl_->stop();
}
void Indexer::waitUntilIdle() {
  impl_->waitUntilIdle();
}
void Indexer::pause() {
  impl_->pause();
}
void Indexer::resume() {
  impl_->resume();
}
bool Indexer::isPausedByUser() const {
  return impl_->isPausedByUser();
}

Indexer::Impl::Impl(Indexer& owner, Library& library, Embedder& embedder, Policy policy,
                    std::shared_ptr<const SystemConditions> conditions,
                    std::filesystem::path systemRoot)
    : owner_(owner),
      library_(library),
      embedder_(embedder),
      policy_(std::move(policy)),
      systemRoot_(std::move(systemRoot)),
      stages_(embedder),
      progress_(owner.onProgress, stages_),
      gate_(std::move(conditions), owner.ignoreLowPower),
      outcomes_(library, refusals_),
      photos_(
          PipelineParts{library, stages_, outcomes_, refusals_, progress_, owner.onFileIndexed}),
      videos_(PipelineParts{library, stages_, outcomes_, refusals_, progress_, owner.onFileIndexed},
              gate_.conditions(), policy_.plan) {}

Indexer::Impl::~Impl() {
  std::vector<std::shared_ptr<Task>> threads;
  {
    MutexLock guard(lock_);
    closing_ = true;  // no thread is started from now on
    threads = threads_;
  }
  for (auto& task : threads) task->thread.request_stop();
  for (auto& task : threads) {
    if (task->thread.joinable()) task->thread.join();
  }
}

void Indexer::Impl::run(const std::optional<std::vector<std::int64_t>>& scan) {
  reapFinished();
  bool active = false;
  {
    MutexLock guard(lock_);
    if (closing_) return;
    active = task_ != nullptr;
    if (active) wake_ = true;
  }
  std::vector<std::int64_t> ids = scan ? *scan : allRootIDs();
  if (active) {
    startScanOnly(std::move(ids));
  } else {
    startRun(std::move(ids));
  }
}

std::vector<std::int64_t> Indexer::Impl::allRootIDs() const {
  std::vector<Root> roots = library_.roots();
  std::stable_sort(roots.begin(), roots.end(),
                   [](const Root& a, const Root& b) { return a.added < b.added; });
  std::vector<std::int64_t> ids;
  for (const Root& root : roots) ids.push_back(root.id);
  return ids;
}

void Indexer::Impl::startRun(std::vector<std::int64_t> ids) {
  MutexLock guard(lock_);
  if (closing_) return;
  if (task_) {
    // Another request started a run in the meantime: merge into it.
    wake_ = true;
    guard.unlock();
    startScanOnly(std::move(ids));
    return;
  }
  auto task = std::make_shared<Task>();
  task->done = task->finished.get_future().share();
  Task* raw = task.get();
  task_ = task;
  threads_.push_back(task);
  outcomes_.startRun();
  refusals_.startRun();
  progress_.startRun();
  // Made under the lock so that stop() and the thread's own end see the handle complete.
  task->thread = std::jthread([this, raw, ids = std::move(ids)](std::stop_token stop) {
    ThreadPriority::background();  // the decode helpers it starts inherit it
    try {
      runBody(stop, ids);
    } catch (...) {
      // Nothing below is meant to throw; if it did, the run still ends cleanly.
      {
        MutexLock end(lock_);
        if (task_.get() == raw) task_.reset();
      }
      progress_.idle();
      progress_.report(true);
    }
    raw->over = true;
    raw->finished.set_value();
  });
}

void Indexer::Impl::startScanOnly(std::vector<std::int64_t> ids) {
  if (ids.empty()) return;  // wake is set: the run looks again for pending files
  MutexLock guard(lock_);
  if (closing_) return;
  if (!scans_.add(ids)) return;  // the scan-only thread takes them in its next round
  auto task = std::make_shared<Task>();
  task->done = task->finished.get_future().share();
  Task* raw = task.get();
  threads_.push_back(task);
  task->thread = std::jthread([this, raw](std::stop_token stop) {
    ThreadPriority::background();
    drainScans(stop);
    raw->over = true;
    raw->finished.set_value();
  });
}

void Indexer::Impl::drainScans(std::stop_token stop) {
  for (;;) {
    const std::vector<std::int64_t> ids = scans_.takeRound(stop.stop_requested());
    if (ids.empty()) break;
    scan(ids, stop);
  }
  bool startNew = false;
  {
    // The run may have taken its last look while the scans were going on: then it is told
    // again, or, when it has ended, a new run indexes what they found.
    MutexLock guard(lock_);
    if (task_) {
      wake_ = true;
    } else {
      startNew = !closing_ && !stop.stop_requested();
    }
  }
  if (startNew) run(std::vector<std::int64_t>{});
}

void Indexer::Impl::reapFinished() {
  std::vector<std::shared_ptr<Task>> finished;
  {
    MutexLock guard(lock_);
    auto split = std::stable_partition(threads_.begin(), threads_.end(),
                                       [](const auto& task) { return !task->over.load(); });
    finished.assign(std::make_move_iterator(split), std::make_move_iterator(threads_.end()));
    threads_.erase(split, threads_.end());
  }
  for (auto& task : finished) task->thread.join();
}

void Indexer::Impl::runBody(std::stop_token stop, std::vector<std::int64_t> ids) {
  for (;;) {
    scan(ids, stop);
    loop(stop);
    fillCaptureTimes(stop);
    if (!refused()) fillStages(stop);
    if (endRunUnlessWoken(stop)) break;
    ids.clear();  // a request came after the loop's last look: index what it found
  }
  progress_.report(true);
}

void Indexer::Impl::fillStages(std::stop_token stop) {
  stages_.fill(library_, reachableRoots(), stop,
               [&](const std::string& stage, int done, int total) {
                 progress_.filling(indexing::Filling{.stage = stage, .done = done, .total = total});
                 progress_.report(done == 0);
                 waitWhilePaused(stop);
               });
  progress_.filling(std::nullopt);
}

bool Indexer::Impl::endRunUnlessWoken(std::stop_token stop) {
  MutexLock guard(lock_);
  if (wake_ && !stop.stop_requested() && !refused()) {
    wake_ = false;
    return false;
  }
  task_.reset();
  return true;
}

void Indexer::Impl::stop() {
  MutexLock guard(lock_);
  if (task_) task_->thread.request_stop();
}

void Indexer::Impl::waitUntilIdle() {
  for (;;) {
    std::shared_future<void> done;
    {
      MutexLock guard(lock_);
      if (task_) {
        done = task_->done;
      } else {
        // A scan asked for during a run may outlive it, and then starts a run of its own.
        for (const auto& task : threads_) {
          if (!task->over) {
            done = task->done;
            break;
          }
        }
      }
      if (!done.valid()) return;
    }
    done.wait();
  }
}

std::optional<MountTable> Indexer::Impl::drives() const {
  if (owner_.reachablePath) return std::nullopt;
  return MountTable(systemRoot_);
}

std::optional<std::filesystem::path> Indexer::Impl::location(
    const Root& root, const std::optional<MountTable>& drives) const {
  if (owner_.reachablePath) return owner_.reachablePath(root);
  const auto place = drives ? FolderRules::reachablePath(root, *drives) : std::nullopt;
  if (!place) return std::nullopt;
  return Root{.path = *place}.basePath();
}

Indexer::Impl::Locations Indexer::Impl::reachableRoots() const {
  Locations reachable;
  const auto table = drives();
  for (const Root& root : library_.roots()) {
    if (auto filePath = location(root, table)) reachable.emplace(root.id, *filePath);
  }
  return reachable;
}

void Indexer::Impl::scan(const std::vector<std::int64_t>& ids, std::stop_token stop) {
  if (ids.empty()) return;
  progress_.scanning();
  progress_.report(false);
  for (std::int64_t id : ids) {
    if (stop.stop_requested()) return;
    // Two listings of one folder applied out of order would undo the newer one.
    if (!scans_.begin(id)) continue;
    ScanQueue::End end{.again = true};
    while (end.again) {
      scanFolder(id, stop);
      end = scans_.end(id, stop.stop_requested());
    }
    // Cancelled with another request merged into it: that request still stands.
    if (end.handOver) startScanOnly({id});
  }
}

void Indexer::Impl::scanFolder(std::int64_t id, std::stop_token stop) {
  std::optional<Root> root = library_.root(id);
  if (!root) return;
  const auto table = drives();
  if (table) root = FolderRules::rememberDrive(library_, *root, *table);
  const std::optional<std::filesystem::path> filePath = location(*root, table);
  if (!filePath) return;
  Scanner::Result result = Scanner::scan(*filePath, [&stop] { return stop.stop_requested(); });
  // A cut-short listing lacks files that are still there; applying it would delete them.
  if (stop.stop_requested()) return;
  // Nor is the listing of a folder that went away during the walk complete.
  std::error_code ec;
  if (!std::filesystem::is_directory(*filePath, ec)) return;
  try {
    library_.applyScan(id, result.files, result.unreadable);
  } catch (const std::exception&) {
    // Safe: the folder keeps its files as they were until its next scan. A refusal is said
    // when the run ends: the new files it found wait unrecorded.
    if (const auto why = WriteRefusals::ofError(std::current_exception(), library_.location())) {
      refusals_.holdBack({}, *why);
    }
    return;
  }
  std::vector<std::string> unreadable;
  for (const std::string& relative : result.unreadable) {
    std::filesystem::path place = (*filePath / relative).lexically_normal();
    if (!place.has_filename()) place = place.parent_path();  // no trailing separator
    unreadable.push_back(place.string());
  }
  progress_.scanned(id, result.unsupportedVideos, std::move(unreadable));
  outcomes_.scanned(id);
}

void Indexer::Impl::loop(std::stop_token stop) {
  bool first = true;
  while (!stop.stop_requested() && !refused()) {
    // This look answers every request made so far; left set, the flag would send the run
    // back here after every batch.
    takeWake();
    const Locations roots = reachableRoots();
    const PendingOrder::Sums pending = pendingIn(roots);
    if (pending.files() == 0) {
      if (takeWake()) continue;
      break;
    }
    progress_.countLeft(pending);
    if (first) {
      progress_.startTotals(pending);
      first = false;
    } else {
      progress_.growTotals(pending);
    }
    // Files counted but none found to take: they went meanwhile, and the next look says so.
    if (!workThrough(roots, stop) && !isWoken()) break;
  }
  closeRun();
}

std::set<std::int64_t> Indexer::Impl::idsOf(const Locations& roots) {
  std::set<std::int64_t> ids;
  for (const auto& [id, filePath] : roots) ids.insert(id);
  return ids;
}

PendingOrder::Sums Indexer::Impl::pendingIn(const Locations& roots) const {
  const std::set<std::int64_t> rootIDs = idsOf(roots);
  PendingOrder::Sums sums = library_.pendingSums(rootIDs);
  std::set<std::int64_t> aside = outcomes_.passedOver();
  aside.merge(refusals_.heldBack());
  // Only the files set aside in this run are looked up: a look costs what changed, not
  // the whole list.
  for (std::int64_t id : aside) {
    const std::optional<MediaFile> file = library_.file(id);
    if (!file || file->state != FileState::pending || !rootIDs.contains(file->rootID)) continue;
    const bool photo = file->kind == MediaKind::photo;
    (photo ? sums.photos : sums.videos) -= 1;
    (photo ? sums.photoBytes : sums.videoBytes) -= file->size;
  }
  return sums;
}

bool Indexer::Impl::workThrough(const Locations& roots, std::stop_token stop) {
  Cursor cursor{.roots = roots, .rootIDs = idsOf(roots)};
  bool took = false;
  while (!stop.stop_requested() && !refused()) {
    const std::vector<MediaFile> work = takeWork(cursor);
    if (work.empty()) break;
    took = true;
    std::unique_ptr<PhotoPipeline::Batch> batch = std::move(cursor.decoding);
    // A pause stops the decoding ahead as well; what it left is decoded after the pause.
    if (batch && gate_.reason()) batch->halt();
    waitWhilePaused(stop);
    if (stop.stop_requested()) break;
    if (work.front().kind == MediaKind::video) {
      const MediaFile& file = work.front();
      videos_.index(file, roots.at(file.rootID) / file.relPath, stop);
    } else {
      if (!batch) batch = batchOf(work, roots);
      // The encoder had every core; storing and settling take one, so the next photos
      // start decoding on the other.
      photos_.index(*batch, [&] { lookAhead(cursor, stop); });
    }
    // A request came in: look again for pending files before going on. A batch decoded
    // ahead is dropped; its files stay pending.
    if (isWoken()) break;
  }
  return took;
}

std::unique_ptr<PhotoPipeline::Batch> Indexer::Impl::batchOf(const std::vector<MediaFile>& work,
                                                             const Locations& roots) const {
  std::vector<PhotoPipeline::Job> jobs;
  for (const MediaFile& file : work) jobs.push_back({file, roots.at(file.rootID) / file.relPath});
  return std::make_unique<PhotoPipeline::Batch>(std::move(jobs), stages_.pixels());
}

std::vector<MediaFile> Indexer::Impl::takeWork(Cursor& cursor) const {
  if (!cursor.upcoming) return nextWork(cursor.rootIDs, cursor.after);
  std::vector<MediaFile> work = std::move(*cursor.upcoming);
  cursor.upcoming.reset();
  return work;
}

void Indexer::Impl::lookAhead(Cursor& cursor, std::stop_token stop) {
  if (stop.stop_requested() || refused() || isWoken() || gate_.reason()) return;
  cursor.upcoming = nextWork(cursor.rootIDs, cursor.after);
  const std::vector<MediaFile>& work = *cursor.upcoming;
  if (work.empty() || work.front().kind == MediaKind::video) return;
  cursor.decoding = batchOf(work, cursor.roots);
  PhotoPipeline::decodeAhead(*cursor.decoding);
}

std::vector<MediaFile> Indexer::Impl::nextWork(const std::set<std::int64_t>& rootIDs,
                                               std::optional<PendingOrder::Key>& after) const {
  std::vector<MediaFile> work;
  for (;;) {
    const std::vector<MediaFile> next = library_.pendingAfter(rootIDs, after, photoBatch);
    std::set<std::int64_t> aside = outcomes_.passedOver();
    aside.merge(refusals_.heldBack());
    for (const MediaFile& file : next) {
      const bool video = file.kind == MediaKind::video;
      if (video && !work.empty()) return work;  // a photo batch ends where the videos start
      after = PendingOrder::Key::of(file);
      if (aside.contains(file.id)) continue;
      work.push_back(file);
      if (video || work.size() == photoBatch) return work;
    }
    if (next.size() < photoBatch) return work;
  }
}

bool Indexer::Impl::takeWake() {
  MutexLock guard(lock_);
  return std::exchange(wake_, false);
}

bool Indexer::Impl::isWoken() const {
  MutexLock guard(lock_);
  return wake_;
}

void Indexer::Impl::releaseImages() {
  try {
    embedder_.releaseImages();
  } catch (const std::exception&) {
    // Only memory is at stake: what was not freed now is freed with the Embedder.
  }
}

}  // namespace quillmere
