// SPDX-License-Identifier: GPL-3.0-or-later
// The indexer's runs: their threads, scanning folders and indexing photos and videos.
#include "indexer/IndexerImpl.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <iterator>
#include <span>
#include <system_error>
#include <utility>

#include "index/FolderRules.h"
#include "indexer/DecodeBudget.h"
#include "model/Embedder.h"
#include "platform/ImageCodec.h"
#include "platform/PowerMonitor.h"
#include "platform/ThreadPriority.h"
#include "scan/CaptureTimeReader.h"
#include "scan/Scanner.h"

namespace quillmere {
namespace {

bool existsAt(const std::filesystem::path& filePath) {
  std::error_code ec;
  return std::filesystem::exists(filePath, ec);
}

// The file at path still has the size and modification time it was listed with (within the
// half second a scan allows).
bool unchangedOnDisk(const MediaFile& file, const std::filesystem::path& filePath) {
  struct stat info {};
  if (::stat(filePath.c_str(), &info) != 0) return false;
  const double mtime = static_cast<double>(info.st_mtim.tv_sec) + info.st_mtim.tv_nsec / 1e9;
  return info.st_size == file.size && std::abs(mtime - file.mtime) <= 0.5;
}

std::string describe(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    // Not a standard exception: no text to give, so the file reads as unreadable.
    return FrameSampler::Failure(FrameSampler::Failure::Reason::unreadable).what();
  }
}

}  // namespace

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
      embed_(embedder),
      conditions_(conditions ? std::move(conditions) : std::make_shared<PowerMonitor>()),
      systemRoot_(std::move(systemRoot)),
      policy_(std::move(policy)) {
  stages_.emplace_back(std::shared_ptr<Stage>(&embed_, [](Stage*) {}), true);
}

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

Indexer::Policy Indexer::Impl::policy() const {
  MutexLock guard(lock_);
  return policy_;
}

Indexer::Progress Indexer::Impl::currentProgress() const {
  MutexLock guard(lock_);
  return progress_;
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
  passedOver_.clear();
  refusals_.startRun();
  progress_.problem.reset();
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
        progress_.phase = Phase::idle();
      }
      report(true);
    }
    raw->over = true;
    raw->finished.set_value();
  });
}

void Indexer::Impl::startScanOnly(std::vector<std::int64_t> ids) {
  if (ids.empty()) return;  // wake is set: the run looks again for pending files
  MutexLock guard(lock_);
  if (closing_) return;
  for (std::int64_t id : ids) {
    if (std::find(scanQueue_.begin(), scanQueue_.end(), id) == scanQueue_.end()) {
      scanQueue_.push_back(id);
    }
  }
  if (scanWorker_) return;  // it takes the queue in its next round
  scanWorker_ = true;
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
    std::vector<std::int64_t> ids;
    bool startNew = false;
    {
      MutexLock guard(lock_);
      if (stop.stop_requested()) scanQueue_.clear();
      ids.swap(scanQueue_);
      if (ids.empty()) {
        scanWorker_ = false;
        // The run may have taken its last look while the scans were going on: then it is
        // told again, or, when it has ended, a new run indexes what they found.
        if (task_) {
          wake_ = true;
        } else {
          startNew = !closing_ && !stop.stop_requested();
        }
      }
    }
    if (ids.empty()) {
      if (startNew) run(std::vector<std::int64_t>{});
      return;
    }
    scan(ids, stop);
  }
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
    fillStages(stop);
    if (endRunUnlessWoken(stop)) break;
    ids.clear();  // a request came after the loop's last look: index what it found
  }
  report(true);
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
  {
    MutexLock guard(lock_);
    if (progress_.phase == Phase::idle()) progress_.phase = Phase::scanning();
  }
  report(false);
  for (std::int64_t id : ids) {
    if (stop.stop_requested()) return;
    {
      // Two listings of one folder applied out of order would undo the newer one.
      MutexLock guard(lock_);
      if (!scanning_.insert(id).second) {
        rescan_.insert(id);
        continue;
      }
    }
    bool again = true;
    bool handOver = false;
    while (again) {
      scanFolder(id, stop);
      MutexLock guard(lock_);
      const bool asked = rescan_.erase(id) > 0;
      again = asked && !stop.stop_requested();
      handOver = asked && !again;
      if (!again) scanning_.erase(id);
    }
    // Cancelled with another request merged into it: that request still stands.
    if (handOver) startScanOnly({id});
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
  MutexLock guard(lock_);
  unsupported_[id] = result.unsupportedVideos;
  std::vector<std::string>& unreadable = unreadable_[id];
  unreadable.clear();
  for (const std::string& relative : result.unreadable) {
    std::filesystem::path place = (*filePath / relative).lexically_normal();
    if (!place.has_filename()) place = place.parent_path();  // no trailing separator
    unreadable.push_back(place.string());
  }
  std::erase_if(passedOver_, [id](const auto& entry) { return entry.second == id; });
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
    countLeft(pending);
    if (first) {
      startTotals(pending);
      first = false;
    } else {
      growTotals(pending);
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
  std::vector<std::int64_t> aside;
  {
    MutexLock guard(lock_);
    for (const auto& [id, root] : passedOver_) aside.push_back(id);
  }
  const std::set<std::int64_t> heldBack = refusals_.heldBack();
  aside.insert(aside.end(), heldBack.begin(), heldBack.end());
  // Only the files set aside in this run are looked up: a look costs what changed, not
  // the whole list.
  std::set<std::int64_t> seen;
  for (std::int64_t id : aside) {
    if (!seen.insert(id).second) continue;
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
    std::unique_ptr<PhotoBatch> batch = std::move(cursor.decoding);
    // A pause stops the decoding ahead as well; what it left is decoded after the pause.
    if (batch && pauseReason()) batch->halt();
    waitWhilePaused(stop);
    if (stop.stop_requested()) break;
    if (work.front().kind == MediaKind::video) {
      const MediaFile& file = work.front();
      index(file, roots.at(file.rootID) / file.relPath, stop);
    } else {
      if (!batch) {
        std::vector<PhotoJob> jobs;
        for (const MediaFile& file : work)
          jobs.push_back({file, roots.at(file.rootID) / file.relPath});
        batch = std::make_unique<PhotoBatch>(std::move(jobs), decodePixels());
      }
      indexPhotos(*batch, cursor, stop);
    }
    // A request came in: look again for pending files before going on. A batch decoded
    // ahead is dropped; its files stay pending.
    if (isWoken()) break;
  }
  return took;
}

std::vector<MediaFile> Indexer::Impl::takeWork(Cursor& cursor) const {
  if (!cursor.upcoming) return nextWork(cursor.rootIDs, cursor.after);
  std::vector<MediaFile> work = std::move(*cursor.upcoming);
  cursor.upcoming.reset();
  return work;
}

void Indexer::Impl::lookAhead(Cursor& cursor, std::stop_token stop) {
  if (stop.stop_requested() || refused() || isWoken() || pauseReason()) return;
  cursor.upcoming = nextWork(cursor.rootIDs, cursor.after);
  const std::vector<MediaFile>& work = *cursor.upcoming;
  if (work.empty() || work.front().kind == MediaKind::video) return;
  std::vector<PhotoJob> jobs;
  for (const MediaFile& file : work)
    jobs.push_back({file, cursor.roots.at(file.rootID) / file.relPath});
  cursor.decoding = std::make_unique<PhotoBatch>(std::move(jobs), decodePixels());
  PhotoBatch* batch = cursor.decoding.get();
  batch->ahead = std::jthread([batch](std::stop_token halt) { decodeSome(*batch, halt); });
}

std::vector<MediaFile> Indexer::Impl::nextWork(const std::set<std::int64_t>& rootIDs,
                                               std::optional<PendingOrder::Key>& after) const {
  std::vector<MediaFile> work;
  for (;;) {
    const std::vector<MediaFile> next = library_.pendingAfter(rootIDs, after, photoBatch);
    std::vector<bool> aside(next.size());
    const std::set<std::int64_t> heldBack = refusals_.heldBack();
    {
      MutexLock guard(lock_);
      for (std::size_t i = 0; i < next.size(); ++i) {
        aside[i] = passedOver_.contains(next[i].id) || heldBack.contains(next[i].id);
      }
    }
    for (std::size_t i = 0; i < next.size(); ++i) {
      const bool video = next[i].kind == MediaKind::video;
      if (video && !work.empty()) return work;  // a photo batch ends where the videos start
      after = PendingOrder::Key::of(next[i]);
      if (aside[i]) continue;
      work.push_back(next[i]);
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

bool Indexer::Impl::recordFailure(const MediaFile& file, const std::filesystem::path& filePath,
                                  const std::string& message) {
  if (!existsAt(filePath)) {
    // Gone with its folder still reachable: it stays pending for the next scan to settle,
    // and is not tried again before then.
    MutexLock guard(lock_);
    passedOver_[file.id] = file.rootID;
    return false;
  }
  // A scan found it changed or removed since it was read: the failure was of content that
  // is no longer there, and the file's new state stands.
  if (!stillListed(file)) return false;
  try {
    library_.setState(file.id, FileState::failed, message);
  } catch (const std::exception& e) {
    refusedMark(file, e);
    return false;
  }
  refusals_.countWritten();
  return true;
}

void Indexer::Impl::refusedMark(const MediaFile& file, const std::exception& error) {
  // Unmarked, it stays pending for the next run; tried again in this one, it would be
  // decoded and fail again without end.
  const auto* failure = dynamic_cast<const SQLite::Failure*>(&error);
  refusals_.holdBack({file.id}, failure ? WriteRefusals::of(*failure, library_.location())
                                        : indexing::Refusal{.detail = error.what()});
}

void Indexer::Impl::indexPhotos(PhotoBatch& batch, Cursor& cursor, std::stop_token stop) {
  {
    MutexLock guard(lock_);
    progress_.current = batch.jobs.back().file.name();
  }
  report(false);
  const Clock::time_point started = Clock::now();
  decodePhotos(batch);
  embedPhotos(batch);
  // The encoder had every core; storing and settling take one, so the next photos start
  // decoding on the other.
  lookAhead(cursor, stop);
  storePhotos(batch);
  settlePhotos(batch, started);
}

Indexer::Impl::PhotoBatch::PhotoBatch(std::vector<PhotoJob> jobs, std::int64_t pixels)
    : jobs(std::move(jobs)),
      pixels(pixels),
      sampled(this->jobs.size()),
      thumbnails(this->jobs.size()),
      taken(this->jobs.size()),
      errors(this->jobs.size()),
      stageRows(this->jobs.size()),
      stale(this->jobs.size(), false) {}

void Indexer::Impl::PhotoBatch::halt() {
  if (!ahead.joinable()) return;
  ahead.request_stop();
  ahead.join();
}

void Indexer::Impl::decodePhotos(PhotoBatch& batch) {
  const std::size_t n = batch.jobs.size();
  // Each decoder writes only the slots it takes; the slots are read after every decoder,
  // the one ahead included, has been joined.
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t left = n - std::min(n, batch.nextJob.load());
  // The decoder ahead is one of them while it runs.
  const std::size_t room = batch.ahead.joinable() && cores > 1 ? cores - 1 : cores;
  const std::size_t workers = std::max<std::size_t>(1, std::min(left, room));
  {
    std::vector<std::jthread> helpers;
    for (std::size_t w = 1; w < workers; ++w) {
      helpers.emplace_back([&batch](std::stop_token stop) { decodeSome(batch, stop); });
    }
    decodeSome(batch, {});
  }
  if (batch.ahead.joinable()) batch.ahead.join();
}

void Indexer::Impl::decodeSome(PhotoBatch& batch, std::stop_token stop) {
  while (!stop.stop_requested()) {
    const std::size_t i = batch.nextJob++;
    if (i >= batch.jobs.size()) return;
    decodeOne(batch, i);
  }
}

void Indexer::Impl::decodeOne(PhotoBatch& batch, std::size_t i) {
  try {
    const auto header = ImageCodec::header(batch.jobs[i].path);
    if (!header) throw FrameSampler::Failure(FrameSampler::Failure::Reason::unreadable);
    batch.taken[i] = CaptureTimeReader::fromHeader(*header, batch.jobs[i].file.mtime);
    // Huge pictures decode a few at a time, whatever the number of workers.
    const DecodeBudget::Hold hold(DecodeBudget::shared(),
                                  DecodeBudget::estimate(header->width, header->height));
    FrameSampler::Sampled result = FrameSampler::photo(batch.jobs[i].path, *header, batch.pixels);
    if (result.frames.empty()) {
      throw FrameSampler::Failure(FrameSampler::Failure::Reason::unreadable);
    }
    batch.thumbnails[i] = FrameSampler::thumbnailData(result.frames.front().image, thumbnailPixels);
    batch.sampled[i] = std::move(result);
  } catch (...) {
    batch.errors[i] = describe(std::current_exception());
  }
}

void Indexer::Impl::embedPhotos(PhotoBatch& batch) {
  std::vector<std::size_t> ok;
  std::vector<StagePicture> pictures;
  for (std::size_t i = 0; i < batch.jobs.size(); ++i) {
    if (!batch.sampled[i]) continue;
    ok.push_back(i);
    pictures.push_back(
        {.file = batch.jobs[i].file, .image = batch.sampled[i]->frames.front().image});
  }
  if (ok.empty()) return;
  try {
    StageOutput output = runStages(pictures);
    const std::vector<std::vector<Half>>& vectors = output.vectors;
    for (std::size_t k = 0; k < ok.size(); ++k) {
      const std::size_t i = ok[k];
      // Removed or changed by a scan while it was decoded: nothing to store for it.
      if (!stillListed(batch.jobs[i].file)) {
        batch.stale[i] = true;
        continue;
      }
      batch.entries.push_back(
          {.file = batch.jobs[i].file,
           .frames = {FrameRecord{
               .time = 0, .vector = vectors[k], .thumbnail = std::move(batch.thumbnails[i])}},
           .duration = 0,
           .width = static_cast<int>(batch.sampled[i]->width),
           .height = static_cast<int>(batch.sampled[i]->height),
           .taken = batch.taken[i],
           .stages = std::move(output.others[k])});
      batch.entryIndex.push_back(i);
    }
  } catch (...) {
    const std::string message = describe(std::current_exception());
    for (std::size_t i : ok) batch.errors[i] = message;
    batch.entries.clear();
    batch.entryIndex.clear();
  }
}

void Indexer::Impl::storePhotos(PhotoBatch& batch) {
  if (batch.entries.empty()) return;
  try {
    library_.saveFrames(batch.entries);
    refusals_.countWritten();
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    if (const auto why = WriteRefusals::ofError(error, library_.location())) {
      // A library that refuses writes would refuse each photo alone as well: none is the
      // photo's fault, so each stays as it was.
      std::vector<std::int64_t> ids;
      for (std::size_t k = 0; k < batch.entries.size(); ++k) {
        ids.push_back(batch.entries[k].file.id);
        batch.stale[batch.entryIndex[k]] = true;
      }
      refusals_.holdBack(ids, *why);
      batch.entries.clear();
      return;
    }
    storeOneByOne(batch, error);
  }
}

void Indexer::Impl::storeOneByOne(PhotoBatch& batch, const std::exception_ptr& batchError) {
  // One file removed by a scan in the meantime fails the whole batch: store the others one
  // by one, so that only a file that fails on its own is marked.
  std::vector<Library::FrameBatchEntry> saved;
  for (std::size_t k = 0; k < batch.entries.size(); ++k) {
    std::exception_ptr error = batchError;
    if (batch.entries.size() > 1) {
      try {
        library_.saveFrames({batch.entries[k]});
        refusals_.countWritten();
        saved.push_back(std::move(batch.entries[k]));
        continue;
      } catch (...) {
        error = std::current_exception();
      }
    }
    const std::size_t slot = batch.entryIndex[k];
    if (const auto why = WriteRefusals::ofError(error, library_.location())) {
      refusals_.holdBack({batch.entries[k].file.id}, *why);
      batch.stale[slot] = true;
    } else if (stillListed(batch.entries[k].file)) {
      batch.errors[slot] = describe(error);
    } else {
      batch.stale[slot] = true;
    }
  }
  batch.entries = std::move(saved);
}

void Indexer::Impl::settlePhotos(PhotoBatch& batch, Clock::time_point started) {
  const std::size_t n = batch.jobs.size();
  int marked = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!batch.errors[i]) continue;
    if (recordFailure(batch.jobs[i].file, batch.jobs[i].path, *batch.errors[i])) {
      ++marked;
    } else {
      batch.errors[i].reset();
    }
  }
  if (marked > 0) {
    {
      MutexLock guard(lock_);
      progress_.failed += marked;
    }
    report(false);
  }
  if (!batch.entries.empty() && owner_.onFileIndexed) {
    if (auto file = library_.file(batch.entries.back().file.id)) owner_.onFileIndexed(*file);
  }

  // The batch's time is shared out by size, as if its photos had been done one by one.
  const Clock::time_point now = Clock::now();
  const Clock::duration elapsed = now - started;
  std::int64_t batchBytes = 0;
  for (const PhotoJob& job : batch.jobs) batchBytes += job.file.size;
  for (std::size_t j = 0; j < n; ++j) {
    const MediaFile& file = batch.jobs[j].file;
    if (refusals_.isHeldBack(file.id)) continue;  // still to do: not finished, its bytes still left
    const double fraction = batchBytes < 1
                                ? 1.0 / static_cast<double>(n)
                                : static_cast<double>(file.size) / static_cast<double>(batchBytes);
    const auto share = std::chrono::duration_cast<Clock::duration>(elapsed * fraction);
    finish(file, now - share, 1, !batch.errors[j].has_value() && !batch.stale[j]);
  }
}

void Indexer::Impl::index(const MediaFile& file, const std::filesystem::path& filePath,
                          std::stop_token stop) {
  {
    MutexLock guard(lock_);
    progress_.current = file.name();
  }
  report(false);
  const Clock::time_point started = Clock::now();
  std::optional<int> stored;
  try {
    stored = embedVideo(file, filePath, stop);
    if (!stored) return;  // cancelled: it stays pending, its stored chunks kept
  } catch (...) {
    // A sampler cut short before it kept a frame reports the file unreadable: a cancelled
    // video is never marked, it stays pending.
    if (stop.stop_requested()) return;
    if (const auto why = WriteRefusals::ofError(std::current_exception(), library_.location())) {
      refusals_.holdBack({file.id}, *why);
      return;
    }
    // A scan that found it removed or changed meanwhile made the library refuse the chunk
    // (Stale): not marked, its new content waits, pending.
    if (recordFailure(file, filePath, describe(std::current_exception()))) {
      {
        MutexLock guard(lock_);
        progress_.failed += 1;
      }
      report(false);
    }
    if (!refusals_.isHeldBack(file.id)) finish(file, started, 0, false);
    return;
  }
  if (owner_.onFileIndexed) {
    if (auto indexed = library_.file(file.id)) owner_.onFileIndexed(*indexed);
  }
  finish(file, started, *stored, true);
}

std::optional<int> Indexer::Impl::embedVideo(const MediaFile& file,
                                             const std::filesystem::path& filePath,
                                             std::stop_token stop) {
  const FrameSampler::VideoPlan plan = policy().plan;
  const std::optional<FrameSampler::Resume> resume = resumePoint(file, filePath, plan);
  VideoRun run{.file = file, .restart = !resume};
  const FrameSampler::VideoInfo info = FrameSampler::video(
      filePath, plan, [&stop] { return stop.stop_requested(); },
      [&](FrameSampler::Frame&& frame) {
        run.chunk.push_back(std::move(frame));
        if (run.chunk.size() < videoChunk) return;
        storeChunk(run, std::nullopt);
        if (conditions_->thermalState() == SystemConditions::ThermalState::fair) {
          std::this_thread::sleep_for(fairRest);
        }
      },
      resume);
  // Frames kept after the last stored chunk are dropped: a resumed run samples them again.
  if (stop.stop_requested()) return std::nullopt;
  run.taken = CaptureTimeReader::read(filePath, file);  // the container's header only
  storeChunk(run, info);
  return run.stored;
}

std::optional<FrameSampler::Resume> Indexer::Impl::resumePoint(
    const MediaFile& file, const std::filesystem::path& filePath,
    const FrameSampler::VideoPlan& plan) {
  const std::optional<double> last = library_.lastFrameTime(file.id);
  // Edited since it was listed, and not yet scanned again: its frames show other content.
  if (!last || !unchangedOnDisk(file, filePath)) return std::nullopt;
  std::optional<FrameSampler::Signature> signature =
      FrameSampler::signatureAt(filePath, *last, plan.maxPixels);
  if (!signature) return std::nullopt;
  return FrameSampler::Resume{.after = *last, .signature = std::move(*signature)};
}

void Indexer::Impl::storeChunk(VideoRun& run, const std::optional<FrameSampler::VideoInfo>& info) {
  Library::FrameBatchEntry entry{.file = run.file};
  if (info) {
    entry.duration = info->duration;
    entry.width = static_cast<int>(info->width);
    entry.height = static_cast<int>(info->height);
    entry.taken = run.taken;
  }
  embedChunk(run.chunk, entry, run.file);
  library_.saveChunk(entry, {.restart = run.restart, .complete = info.has_value()});
  refusals_.countWritten();
  run.restart = false;
  run.stored += static_cast<int>(entry.frames.size());
  run.chunk.clear();
}

void Indexer::Impl::embedChunk(std::vector<FrameSampler::Frame>& frames,
                               Library::FrameBatchEntry& entry, const MediaFile& file) {
  std::vector<StagePicture> pictures;
  for (const FrameSampler::Frame& frame : frames) {
    pictures.push_back({.file = file, .time = frame.time, .image = frame.image});
  }
  StageOutput output = runStages(pictures);
  // Every stage is named, so that the last chunk marks it done even with no rows.
  for (std::size_t j = entry.stages.size(); j < output.names.size(); ++j) {
    entry.stages.push_back({.stage = output.names[j]});
  }
  for (std::size_t k = 0; k < frames.size(); ++k) {
    entry.frames.push_back(
        {.time = frames[k].time,
         .vector = std::move(output.vectors[k]),
         .thumbnail = FrameSampler::thumbnailData(frames[k].image, thumbnailPixels)});
  }
  // One list per stage for the chunk, its frames' rows in order.
  for (auto& rows : output.others) {
    for (std::size_t j = 0; j < rows.size(); ++j) {
      auto& into = entry.stages[j].rows;
      std::move(rows[j].rows.begin(), rows[j].rows.end(), std::back_inserter(into));
    }
  }
}

bool Indexer::Impl::stillListed(const MediaFile& file) const {
  const std::optional<MediaFile> current = library_.file(file.id);
  return current && current->size == file.size && current->mtime == file.mtime;
}

void Indexer::Impl::releaseImages() {
  try {
    embedder_.releaseImages();
  } catch (const std::exception&) {
    // Only memory is at stake: what was not freed now is freed with the Embedder.
  }
}

}  // namespace quillmere
