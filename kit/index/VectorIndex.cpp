#include "index/VectorIndex.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

#include "index/DotKernel.h"
#include "index/TopRows.h"
#include "index/WorkerPool.h"

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

// Whether any of the kStretch scores from `from` is above `floor` (NaN never is): once the
// heap is full, most stretches hold none and are passed over whole.
bool anyAbove(const float* from, float floor) {
  bool any = false;
  for (std::size_t i = 0; i < kStretch; ++i) any |= from[i] > floor;
  return any;
}

// The selection over every score in row order, with the heap above: among equal scores it
// keeps the order the heap's array gives them. admitted(r) says whether row r's file may be
// listed; it is asked only for rows that would enter the heap.
template <typename Admitted>
std::vector<Candidate> selectInOrder(const std::vector<float>& scores,
                                     const std::vector<bool>& dead, std::size_t limit,
                                     const Admitted& admitted) {
  std::vector<Candidate> heap;
  heap.reserve(std::min(limit, scores.size()));
  for (std::size_t r = 0; r < scores.size(); ++r) {
    if (heap.size() == limit && r % kStretch == 0 && r + kStretch <= scores.size() &&
        !anyAbove(scores.data() + r, heap[0].score)) {
      r += kStretch - 1;
      continue;
    }
    const float score = scores[r];
    if (std::isnan(score) || score == -std::numeric_limits<float>::infinity()) continue;
    if (heap.size() == limit && !(score > heap[0].score)) continue;
    if (dead[r] || !admitted(r)) continue;
    heapPush(heap, limit, {score, r});
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
  RowsSnapshot(const SharedChunks& chunks, const RowChunk& tail) : chunks_(chunks), tail_(tail) {}
  const Row& operator[](std::size_t r) const {
    const std::size_t chunk = r / chunkRows;
    return chunk < chunks_.size() ? (*chunks_[chunk])[r % chunkRows] : tail_[r % chunkRows];
  }

 private:
  SharedChunks chunks_;
  RowChunk tail_;
};

VectorIndex::VectorIndex(std::size_t dim) : dim_(dim) {}

std::size_t VectorIndex::count() const {
  std::lock_guard guard(lock_);
  return rowCountLocked() - deadCount_;
}

void VectorIndex::reserve(std::size_t n) {
  std::lock_guard guard(lock_);
  vectors_.reserve(n * dim_);
  chunks_.reserve(n / chunkRows + 1);
  dead_.reserve(n);
}

void VectorIndex::removeAll() {
  std::lock_guard guard(lock_);
  vectors_.clear();
  chunks_.clear();
  tail_.clear();
  dead_.clear();
  deadCount_ = 0;
  rowsByFile_.clear();
}

void VectorIndex::appendRow(SharedChunks& chunks, RowChunk& tail, const Row& row) {
  if (tail.capacity() < chunkRows) tail.reserve(chunkRows);
  tail.push_back(row);
  if (tail.size() == chunkRows) {
    chunks.push_back(std::make_shared<const RowChunk>(std::move(tail)));
    tail = RowChunk();
  }
}

const VectorIndex::Row& VectorIndex::rowLocked(std::size_t r) const {
  const std::size_t chunk = r / chunkRows;
  return chunk < chunks_.size() ? (*chunks_[chunk])[r % chunkRows] : tail_[r % chunkRows];
}

void VectorIndex::add(const Row& row, std::span<const Half> vector) {
  if (vector.size() != dim_) contractBroken("vector of the wrong length", vector.size(), dim_);
  std::lock_guard guard(lock_);
  rowsByFile_[row.fileID].push_back(rowCountLocked());
  appendRow(chunks_, tail_, row);
  dead_.push_back(false);
  vectors_.insert(vectors_.end(), vector.begin(), vector.end());
}

void VectorIndex::remove(std::int64_t fileID) {
  std::lock_guard guard(lock_);
  const auto found = rowsByFile_.find(fileID);
  if (found == rowsByFile_.end()) return;
  for (const std::size_t r : found->second) dead_[r] = true;
  deadCount_ += found->second.size();
  rowsByFile_.erase(found);
  if (deadCount_ > kCompactionMinimum && rowCountLocked() < 4 * deadCount_) compactLocked();
}

void VectorIndex::compactLocked() {
  const std::size_t stored = rowCountLocked();
  const std::size_t live = stored - deadCount_;
  std::vector<Half> vectors;
  vectors.reserve(live * dim_);
  SharedChunks chunks;
  chunks.reserve(live / chunkRows + 1);
  RowChunk tail;
  std::unordered_map<std::int64_t, std::vector<std::size_t>> rowsByFile;
  for (std::size_t r = 0, next = 0; r < stored; ++r) {
    if (dead_[r]) continue;
    const Row& row = rowLocked(r);
    rowsByFile[row.fileID].push_back(next++);
    appendRow(chunks, tail, row);
    const auto from = vectors_.begin() + static_cast<std::ptrdiff_t>(r * dim_);
    vectors.insert(vectors.end(), from, from + static_cast<std::ptrdiff_t>(dim_));
  }
  vectors_ = std::move(vectors);
  chunks_ = std::move(chunks);
  tail_ = std::move(tail);
  rowsByFile_ = std::move(rowsByFile);
  dead_.assign(live, false);
  deadCount_ = 0;
}

std::vector<std::pair<VectorIndex::Row, std::vector<Half>>> VectorIndex::vectors(
    std::int64_t fileID) const {
  std::lock_guard guard(lock_);
  std::vector<std::pair<Row, std::vector<Half>>> result;
  const auto found = rowsByFile_.find(fileID);
  if (found == rowsByFile_.end()) return result;
  result.reserve(found->second.size());
  for (const std::size_t r : found->second) {
    const auto from = vectors_.begin() + static_cast<std::ptrdiff_t>(r * dim_);
    result.emplace_back(rowLocked(r),
                        std::vector<Half>(from, from + static_cast<std::ptrdiff_t>(dim_)));
  }
  return result;
}

std::vector<VectorIndex::Row> VectorIndex::rows(std::int64_t fileID) const {
  std::lock_guard guard(lock_);
  std::vector<Row> result;
  const auto found = rowsByFile_.find(fileID);
  if (found == rowsByFile_.end()) return result;
  result.reserve(found->second.size());
  for (const std::size_t r : found->second) result.push_back(rowLocked(r));
  return result;
}

std::vector<VectorIndex::Hit> VectorIndex::search(
    std::span<const float> query, std::size_t limit,
    const std::function<bool(std::int64_t)>& include) const {
  if (query.size() != dim_) contractBroken("query of the wrong length", query.size(), dim_);
  if (limit < 1) contractBroken("limit below 1", limit, 1);

  // Reused by the thread's next search: a fresh buffer would be 4 MB of new pages at a
  // million rows, faulted in on every keystroke.
  thread_local std::vector<float> scores;
  std::optional<RowsSnapshot> rows;
  std::vector<bool> dead;
  std::vector<TopRows::Entry> best;  // the scan's best live rows
  std::size_t kept = 0;
  std::size_t files = 0;
  {
    std::lock_guard guard(lock_);
    rows.emplace(chunks_, tail_);
    dead = dead_;
    scores.resize(rowCountLocked());
    // With a filter some of the best rows may be refused: twice as many usually still hold
    // the answer. One more than the answer shows whether the last one is tied.
    const std::size_t wanted = std::min(limit, scores.size());
    kept = std::min(include ? 2 * wanted : wanted, scores.size()) + 1;
    best = scorePassLocked(query, kept, scores);
    files = rowsByFile_.size();
  }

  std::unordered_map<std::int64_t, bool> decisions;
  const auto decide = [&](std::int64_t fileID) {
    auto decision = decisions.find(fileID);
    if (decision == decisions.end()) decision = decisions.emplace(fileID, include(fileID)).first;
    return decision->second;
  };
  const auto admitted = [&](std::size_t r) { return !include || decide((*rows)[r].fileID); };
  // The best rows' files, read in one pass before any is decided: the rows lie all over
  // memory, and reads that do not wait on one another overlap.
  std::vector<std::int64_t> bestFiles;
  if (include) {
    decisions.reserve(kept);
    bestFiles.reserve(best.size());
    for (const TopRows::Entry& entry : best) bestFiles.push_back((*rows)[entry.row].fileID);
  }
  const auto bestAdmitted = [&](std::size_t i) { return !include || decide(bestFiles[i]); };
  std::optional<std::vector<Candidate>> read =
      readOff(best, limit, best.size() < kept, bestAdmitted);
  if (!read && include) decisions.reserve(files);  // the selection may ask about every file
  const std::vector<Candidate> chosen =
      read ? std::move(*read) : selectInOrder(scores, dead, limit, admitted);

  std::vector<Hit> hits;
  hits.reserve(chosen.size());
  for (const Candidate& candidate : chosen)
    hits.push_back({(*rows)[candidate.row], candidate.score});
  return hits;
}

std::vector<TopRows::Entry> VectorIndex::scorePassLocked(std::span<const float> query,
                                                         std::size_t limit,
                                                         std::vector<float>& scores) const {
  const std::size_t n = scores.size();
  const std::size_t blocks = n <= kBlockRows ? 1 : (n + kBlockRows - 1) / kBlockRows;
  const Half* vectors = vectors_.data();
  const std::size_t dim = dim_;
  float* out = scores.data();
  WorkerPool& pool = WorkerPool::shared();
  // The best live rows each thread saw, kept while the block is still in its cache.
  std::vector<TopRows> tops(pool.slots(), TopRows(limit));
  pool.run(blocks, [&](std::size_t block, std::size_t slot) {
    const std::size_t first = block * kBlockRows;
    const std::size_t end = std::min(n, first + kBlockRows);
    if (first >= end) return;
    DotKernel::score(query, vectors + first * dim, end - first, out + first);
    TopRows& top = tops[slot];
    for (std::size_t r = first; r < end; ++r) {
      if (top.wouldKeep(out[r]) && !dead_[r]) top.offer({out[r], r});
    }
  });
  TopRows merged(limit);
  for (const TopRows& top : tops) merged.merge(top);
  return merged.sorted();
}

std::size_t VectorIndex::storedRows() const {
  std::lock_guard guard(lock_);
  return rowCountLocked();
}

std::size_t VectorIndex::deadRows() const {
  std::lock_guard guard(lock_);
  return deadCount_;
}

}  // namespace quillmere
