// SPDX-License-Identifier: GPL-3.0-or-later
// The in-memory vector index: adding and retiring rows, compaction and the searches.
#include "vectors/VectorIndex.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <unordered_map>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "vectors/DotKernel.h"
#include "vectors/TopRows.h"
#include "vectors/WorkerPool.h"

namespace quillmere {

namespace {

constexpr std::size_t kBlockRows = 2048;
constexpr std::size_t kCompactionMinimum = 4096;

[[noreturn]] void contractBroken(const char* what, std::size_t got, std::size_t expected) {
  std::fprintf(stderr, "VectorIndex: %s (%zu, expected %zu)\n", what, got, expected);
  std::abort();
}

struct Candidate {
  float score;
  std::size_t row;
};

// Min-heap on score in an array; the parent of p is (p - 1) / 2.
void heapPush(std::vector<Candidate>& heap, std::size_t limit, Candidate candidate) {
  if (heap.size() < limit) {
    std::size_t p = heap.size();
    heap.push_back(candidate);
    while (p > 0) {
      const std::size_t parent = (p - 1) / 2;
      if (!(heap[parent].score > heap[p].score)) break;
      std::swap(heap[parent], heap[p]);
      p = parent;
    }
    return;
  }
  if (!(candidate.score > heap[0].score)) return;
  heap[0] = candidate;
  std::size_t p = 0;
  for (;;) {
    std::size_t smallest = p;
    const std::size_t left = 2 * p + 1;
    const std::size_t right = left + 1;
    if (left < heap.size() && heap[left].score < heap[smallest].score) smallest = left;
    if (right < heap.size() && heap[right].score < heap[smallest].score) smallest = right;
    if (smallest == p) return;
    std::swap(heap[p], heap[smallest]);
    p = smallest;
  }
}

constexpr std::size_t kStretch = 16;

// Whether any of the kStretch scores from `from` is above `floor` (NaN never is).
bool anyAbove(const float* from, float floor) {
#if defined(__SSE2__)
  // The compiler keeps the loop below scalar; four comparisons at a time pass a million
  // rows in a fraction of the time.
  const __m128 bar = _mm_set1_ps(floor);
  __m128 above = _mm_cmpgt_ps(_mm_loadu_ps(from), bar);
  for (std::size_t i = 4; i < kStretch; i += 4)
    above = _mm_or_ps(above, _mm_cmpgt_ps(_mm_loadu_ps(from + i), bar));
  return _mm_movemask_ps(above) != 0;
#else
  bool any = false;
  for (std::size_t i = 0; i < kStretch; ++i) any |= from[i] > floor;
  return any;
#endif
}

// The first row from `from` on that scores above floor (NaN never does), or `end`. Once a
// selection's heap is full, most stretches hold none and are passed over whole.
std::size_t nextAbove(const std::vector<float>& scores, std::size_t from, std::size_t end,
                      float floor) {
  for (std::size_t r = from; r < end;) {
    if (r % kStretch == 0 && r + kStretch <= end && !anyAbove(scores.data() + r, floor)) {
      r += kStretch;
    } else if (scores[r] > floor) {
      return r;
    } else {
      ++r;
    }
  }
  return end;
}

// Which files a filtered search may list, by file slot: asked of the filter in batches,
// each file at most once.
class FileDecisions {
 public:
  FileDecisions(const VectorIndex::FileFilter& filter, std::size_t slots)
      : filter_(filter), states_(slots, unasked) {}

  bool known(std::uint32_t slot) const { return states_[slot] >= no; }
  bool admitted(std::uint32_t slot) const { return states_[slot] == yes; }
  // Queues a file for the next ask, unless it was asked about or queued already.
  void queue(std::uint32_t slot, std::int64_t fileID) {
    if (states_[slot] != unasked) return;
    states_[slot] = waiting;
    slots_.push_back(slot);
    fileIDs_.push_back(fileID);
  }
  // Asks about the queued files in one call. A file the filter gave no answer for is refused.
  void ask() {
    if (fileIDs_.empty()) return;
    const std::vector<bool> answers = filter_(fileIDs_);
    for (std::size_t i = 0; i < slots_.size(); ++i)
      states_[slots_[i]] = i < answers.size() && answers[i] ? yes : no;
    slots_.clear();
    fileIDs_.clear();
  }

 private:
  enum State : std::uint8_t { unasked, waiting, no, yes };
  const VectorIndex::FileFilter& filter_;
  std::vector<State> states_;
  std::vector<std::uint32_t> slots_;  // queued
  std::vector<std::int64_t> fileIDs_;
};

// The selection below takes rows a window at a time, and asks about the files of a window
// in one call: while its heap fills, every row may enter, so windows are short lest files
// be asked about that it would never reach; once it is full, few rows score above its
// minimum, and windows are long.
constexpr std::size_t kFillingWindow = 512;
constexpr std::size_t kFullWindow = 8192;

// The selection over every score in row order, with the heap above: among equal scores it
// keeps the order the heap's array gives them. decide(rows) prepares the answers for the
// files of a window's rows that may enter the heap, admitted(r) then says whether row r's
// file may be listed.
template <typename Decide, typename Admitted>
std::vector<Candidate> selectInOrder(const std::vector<float>& scores,
                                     const std::vector<bool>& dead, std::size_t limit,
                                     const Decide& decide, const Admitted& admitted) {
  std::vector<Candidate> heap;
  heap.reserve(std::min(limit, scores.size()));
  std::vector<std::size_t> window;
  const std::size_t n = scores.size();
  for (std::size_t first = 0; first < n;) {
    const bool full = heap.size() == limit;
    // Only a score strictly above the minimum enters a full heap; minus infinity never does.
    const float floor = full ? heap[0].score : -std::numeric_limits<float>::infinity();
    const std::size_t end = std::min(n, first + (full ? kFullWindow : kFillingWindow));
    window.clear();
    for (std::size_t r = nextAbove(scores, first, end, floor); r < end;
         r = nextAbove(scores, r + 1, end, floor)) {
      if (!dead[r]) window.push_back(r);
    }
    decide(std::span<const std::size_t>(window));
    for (const std::size_t r : window) {
      if (heap.size() == limit && !(scores[r] > heap[0].score)) continue;
      if (admitted(r)) heapPush(heap, limit, {scores[r], r});
    }
    first = end;
  }
  std::stable_sort(heap.begin(), heap.end(),
                   [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
  return heap;
}

// The answer read off the scan's best live rows (best first; `complete` when they are all
// the live rows that have a score), or nothing when only the selection over every score can
// give it. The first `limit` admitted rows are that selection's answer when their scores all
// differ, so that its order among equal scores cannot matter, and no row outside them can
// reach the last one's score. admitted(i) says whether best[i]'s file may be listed.
template <typename Admitted>
std::optional<std::vector<Candidate>> readOff(const std::vector<TopRows::Entry>& best,
                                              std::size_t limit, bool complete,
                                              const Admitted& admitted) {
  std::vector<Candidate> chosen;
  std::size_t i = 0;
  for (; i < best.size() && chosen.size() < limit; ++i) {
    if (!admitted(i)) continue;
    if (!chosen.empty() && !(chosen.back().score > best[i].score)) return std::nullopt;
    chosen.push_back({best[i].score, best[i].row});
  }
  if (i < best.size()) {
    // Rows beyond the kept ones score at most as high as best[i].
    if (!(best[i - 1].score > best[i].score)) return std::nullopt;
  } else if (!complete) {
    return std::nullopt;
  }
  return chosen;
}

}  // namespace

// What a search works on after releasing the lock: the rows as they were when it scored.
class VectorIndex::RowsSnapshot {
 public:
  RowsSnapshot(const SharedChunks& chunks, const RowChunk& tail) : chunks_(chunks), tail_(tail) {
    // Each chunk's rows by a plain pointer: a row then costs one read from memory, not two
    // that wait on each other.
    starts_.reserve(chunks_.size() + 1);
    for (const auto& chunk : chunks_) starts_.push_back(chunk->data());
    starts_.push_back(tail_.data());
  }
  RowsSnapshot(const RowsSnapshot&) = delete;
  RowsSnapshot& operator=(const RowsSnapshot&) = delete;
  const StoredRow& operator[](std::size_t r) const { return starts_[r / chunkRows][r % chunkRows]; }

 private:
  SharedChunks chunks_;
  RowChunk tail_;
  std::vector<const StoredRow*> starts_;  // chunks_ then tail_
};

// Which rows one search may list: its filter's answers about the rows' files, asked in
// batches and each file at most once, over the rows as the search scored them. Without a
// filter every row is admitted.
class VectorIndex::Admission {
 public:
  Admission(const FileFilter& include, const RowsSnapshot& rows, std::size_t fileSlots,
            const std::vector<TopRows::Entry>& best, std::size_t limit)
      : include_(include), rows_(rows), decisions_(include, fileSlots), limit_(limit) {
    if (!include_) return;
    // The best rows lie all over memory: fetched in one pass before any is decided, they
    // arrive together.
    bestRows_.reserve(best.size());
    for (const TopRows::Entry& entry : best) {
      bestRows_.push_back(&rows_[entry.row]);
      __builtin_prefetch(bestRows_.back());
    }
  }
  Admission(const Admission&) = delete;
  Admission& operator=(const Admission&) = delete;

  // Whether the i-th of the best rows may be listed. An undecided file is asked about
  // together with the files of as many of the following best rows as are still wanted:
  // when all are admitted, no more.
  bool bestAdmitted(std::size_t i) {
    if (!include_) return true;
    if (!decisions_.known(bestRows_[i]->fileSlot)) {
      const std::size_t end = std::min(bestRows_.size(), i + (limit_ - listed_));
      for (std::size_t j = i; j < end; ++j)
        decisions_.queue(bestRows_[j]->fileSlot, bestRows_[j]->row.fileID);
      decisions_.ask();
    }
    const bool admitted = decisions_.admitted(bestRows_[i]->fileSlot);
    listed_ += admitted ? 1 : 0;
    return admitted;
  }

  // Asks about the files of a window of rows in one call.
  void decideWindow(std::span<const std::size_t> window) {
    if (!include_) return;
    // The rows lie far apart in memory: fetched all at once, they arrive together.
    for (const std::size_t r : window) __builtin_prefetch(&rows_[r]);
    for (const std::size_t r : window) decisions_.queue(rows_[r].fileSlot, rows_[r].row.fileID);
    decisions_.ask();
  }

  // Whether row r may be listed, once its window was decided.
  bool admitted(std::size_t r) const { return !include_ || decisions_.admitted(rows_[r].fileSlot); }

 private:
  const FileFilter& include_;
  const RowsSnapshot& rows_;
  FileDecisions decisions_;
  std::vector<const StoredRow*> bestRows_;  // the best rows, when there is a filter
  const std::size_t limit_;
  std::size_t listed_ = 0;  // best rows admitted so far
};

VectorIndex::VectorIndex(std::size_t dim) : dim_(dim) {}

std::size_t VectorIndex::count() const {
  MutexLock guard(lock_);
  return rowCountLocked() - deadCount_;
}

void VectorIndex::reserve(std::size_t n) {
  MutexLock guard(lock_);
  vectors_.reserve(n / chunkRows + 1);
  chunks_.reserve(n / chunkRows + 1);
  dead_.reserve(n);
}

void VectorIndex::removeAll() {
  MutexLock guard(lock_);
  vectors_.clear();
  chunks_.clear();
  tail_.clear();
  dead_.clear();
  deadCount_ = 0;
  rowsByFile_.clear();
  fileSlots_ = 0;
}

void VectorIndex::appendRow(SharedChunks& chunks, RowChunk& tail, const StoredRow& row) {
  if (tail.capacity() < chunkRows) tail.reserve(chunkRows);
  tail.push_back(row);
  if (tail.size() == chunkRows) {
    chunks.push_back(std::make_shared<const RowChunk>(std::move(tail)));
    tail = RowChunk();
  }
}

void VectorIndex::appendVector(VectorChunks& chunks, std::size_t r, std::span<const Half> vector) {
  // Uninitialised: the pages are touched only as rows are written.
  if (r / chunkRows == chunks.size())
    chunks.push_back(std::make_unique_for_overwrite<Half[]>(chunkRows * vector.size()));
  std::copy(vector.begin(), vector.end(),
            chunks[r / chunkRows].get() + r % chunkRows * vector.size());
}

const VectorIndex::Row& VectorIndex::rowLocked(std::size_t r) const {
  const std::size_t chunk = r / chunkRows;
  const StoredRow& stored =
      chunk < chunks_.size() ? (*chunks_[chunk])[r % chunkRows] : tail_[r % chunkRows];
  return stored.row;
}

void VectorIndex::add(const Row& row, std::span<const Half> vector) {
  if (vector.size() != dim_) contractBroken("vector of the wrong length", vector.size(), dim_);
  MutexLock guard(lock_);
  // The scan's selection packs a row's number into 32 bits: four billion rows of even one
  // component each would not fit in memory anyway.
  if (rowCountLocked() >= TopRows::rowLimit)
    contractBroken("too many rows", rowCountLocked(), TopRows::rowLimit);
  const std::size_t r = rowCountLocked();
  const auto [file, added] = rowsByFile_.try_emplace(row.fileID);
  if (added) file->second.slot = fileSlots_++;
  file->second.rows.push_back(r);
  appendRow(chunks_, tail_, {row, file->second.slot});
  dead_.push_back(false);
  appendVector(vectors_, r, vector);
}

void VectorIndex::remove(std::int64_t fileID) {
  MutexLock guard(lock_);
  const auto found = rowsByFile_.find(fileID);
  if (found == rowsByFile_.end()) return;
  for (const std::size_t r : found->second.rows) dead_[r] = true;
  deadCount_ += found->second.rows.size();
  rowsByFile_.erase(found);
  if (deadCount_ > kCompactionMinimum && rowCountLocked() < 4 * deadCount_) compactLocked();
}

void VectorIndex::compactLocked() {
  const std::size_t stored = rowCountLocked();
  const std::size_t live = stored - deadCount_;
  VectorChunks vectors;
  vectors.reserve(live / chunkRows + 1);
  SharedChunks chunks;
  chunks.reserve(live / chunkRows + 1);
  RowChunk tail;
  std::unordered_map<std::int64_t, FileRows> rowsByFile;
  std::uint32_t slots = 0;
  for (std::size_t r = 0, next = 0; r < stored; ++r) {
    if (dead_[r]) continue;
    const Row& row = rowLocked(r);
    const auto [file, added] = rowsByFile.try_emplace(row.fileID);
    if (added) file->second.slot = slots++;
    file->second.rows.push_back(next);
    appendRow(chunks, tail, {row, file->second.slot});
    appendVector(vectors, next++, {vectorLocked(r), dim_});
  }
  vectors_ = std::move(vectors);
  chunks_ = std::move(chunks);
  tail_ = std::move(tail);
  rowsByFile_ = std::move(rowsByFile);
  fileSlots_ = slots;
  dead_.assign(live, false);
  deadCount_ = 0;
}

std::vector<std::pair<VectorIndex::Row, std::vector<Half>>> VectorIndex::vectors(
    std::int64_t fileID) const {
  MutexLock guard(lock_);
  std::vector<std::pair<Row, std::vector<Half>>> result;
  const auto found = rowsByFile_.find(fileID);
  if (found == rowsByFile_.end()) return result;
  result.reserve(found->second.rows.size());
  for (const std::size_t r : found->second.rows) {
    const Half* from = vectorLocked(r);
    result.emplace_back(rowLocked(r), std::vector<Half>(from, from + dim_));
  }
  return result;
}

std::vector<VectorIndex::Row> VectorIndex::rows(std::int64_t fileID) const {
  MutexLock guard(lock_);
  std::vector<Row> result;
  const auto found = rowsByFile_.find(fileID);
  if (found == rowsByFile_.end()) return result;
  result.reserve(found->second.rows.size());
  for (const std::size_t r : found->second.rows) result.push_back(rowLocked(r));
  return result;
}

std::vector<VectorIndex::Hit> VectorIndex::search(
    std::span<const float> query, std::size_t limit,
    const std::function<bool(std::int64_t)>& include) const {
  if (!include) return search(query, limit, FileFilter());
  return search(query, limit, FileFilter([&](std::span<const std::int64_t> fileIDs) {
                  std::vector<bool> admitted;
                  admitted.reserve(fileIDs.size());
                  for (const std::int64_t fileID : fileIDs) admitted.push_back(include(fileID));
                  return admitted;
                }));
}

std::vector<VectorIndex::Hit> VectorIndex::search(std::span<const float> query, std::size_t limit,
                                                  const FileFilter& include) const {
  if (query.size() != dim_) contractBroken("query of the wrong length", query.size(), dim_);
  if (limit < 1) contractBroken("limit below 1", limit, 1);

  // Reused by the thread's next search: a fresh buffer would be 4 MB of new pages at a
  // million rows, faulted in on every keystroke.
  thread_local std::vector<float> scores;
  std::optional<RowsSnapshot> rows;
  std::vector<bool> dead;
  std::vector<TopRows::Entry> best;  // the scan's best live rows
  std::size_t kept = 0;
  std::size_t fileSlots = 0;
  {
    MutexLock guard(lock_);
    rows.emplace(chunks_, tail_);
    dead = dead_;
    scores.resize(rowCountLocked());
    // With a filter some of the best rows may be refused: twice as many usually still hold
    // the answer. One more than the answer shows whether the last one is tied.
    const std::size_t wanted = std::min(limit, scores.size());
    kept = std::min(include ? 2 * wanted : wanted, scores.size()) + 1;
    best = scorePassLocked(query, kept, scores);
    fileSlots = include ? fileSlots_ : 0;
  }

  Admission admission(include, *rows, fileSlots, best, limit);
  std::optional<std::vector<Candidate>> read = readOff(
      best, limit, best.size() < kept, [&](std::size_t i) { return admission.bestAdmitted(i); });
  const std::vector<Candidate> chosen =
      read ? std::move(*read)
           : selectInOrder(
                 scores, dead, limit,
                 [&](std::span<const std::size_t> window) { admission.decideWindow(window); },
                 [&](std::size_t r) { return admission.admitted(r); });

  std::vector<Hit> hits;
  hits.reserve(chosen.size());
  for (const Candidate& candidate : chosen)
    hits.push_back({(*rows)[candidate.row].row, candidate.score});
  return hits;
}

std::vector<TopRows::Entry> VectorIndex::scorePassLocked(std::span<const float> query,
                                                         std::size_t limit,
                                                         std::vector<float>& scores) const {
  const std::size_t n = scores.size();
  const std::size_t blocks = n <= kBlockRows ? 1 : (n + kBlockRows - 1) / kBlockRows;
  // A block of the scan is one block of the vectors.
  static_assert(kBlockRows == chunkRows);
  const VectorChunks* vectors = &vectors_;
  float* out = scores.data();
  // The workers read the flags while this thread holds the lock for them.
  const std::vector<bool>* dead = &dead_;
  WorkerPool& pool = WorkerPool::shared();
  // The best live rows each thread saw, kept while the block is still in its cache.
  std::vector<TopRows> tops(pool.slots(), TopRows(limit));
  pool.run(blocks, [&](std::size_t block, std::size_t slot) {
    const std::size_t first = block * kBlockRows;
    const std::size_t end = std::min(n, first + kBlockRows);
    if (first >= end) return;
    DotKernel::score(query, (*vectors)[block].get(), end - first, out + first);
    TopRows& top = tops[slot];
    for (std::size_t r = first; r < end; ++r) {
      if (top.wouldKeep(out[r]) && !(*dead)[r]) top.offer({out[r], r});
    }
  });
  TopRows merged(limit);
  for (const TopRows& top : tops) merged.merge(top);
  return merged.sorted();
}

std::size_t VectorIndex::storedRows() const {
  MutexLock guard(lock_);
  return rowCountLocked();
}

std::size_t VectorIndex::deadRows() const {
  MutexLock guard(lock_);
  return deadCount_;
}

}  // namespace quillmere
