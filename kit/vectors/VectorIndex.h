// SPDX-License-Identifier: GPL-3.0-or-later
// Every stored frame vector of the library, in memory as binary16 values in blocks of a
// fixed number of rows, searched by brute force: a dot product with every row in parallel
// blocks, then a bounded top-k selection. Rows of a file are retired together and only
// marked dead; the arrays are compacted when dead rows pile up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/Float16.h"
#include "core/ThreadAnnotations.h"
#include "vectors/TopRows.h"

namespace quillmere {

class VectorIndex {
 public:
  struct Row {
    std::int64_t frameID = 0;
    std::int64_t fileID = 0;
    double time = 0;
    bool operator==(const Row&) const = default;
  };

  struct Hit {
    Row row;
    float score = 0;
    bool operator==(const Hit&) const = default;
  };

  explicit VectorIndex(std::size_t dim);
  VectorIndex(const VectorIndex&) = delete;
  VectorIndex& operator=(const VectorIndex&) = delete;

  std::size_t dim() const { return dim_; }
  std::size_t count() const;  // live rows

  // Room for at least n rows; contents unchanged.
  void reserve(std::size_t n);
  void removeAll();
  // vector must hold exactly dim values; anything else stops the process.
  void add(const Row& row, std::span<const Half> vector);
  // Retires every row of the file; compacts when more than 4096 rows and more than a
  // quarter of all rows are dead.
  void remove(std::int64_t fileID);
  // The live rows of a file in the order they were added, each with a copy of its vector.
  std::vector<std::pair<Row, std::vector<Half>>> vectors(std::int64_t fileID) const;
  // The same rows without their vectors (a long video has hundreds).
  std::vector<Row> rows(std::int64_t fileID) const;
  // Decides a batch of files: one answer per id, in order. A filtered search may ask about
  // tens of thousands of files; in batches the caller takes its own lock once per batch.
  using FileFilter = std::function<std::vector<bool>(std::span<const std::int64_t> fileIDs)>;

  // At most limit hits, best first. query must hold dim values and limit be at least 1.
  // include, when given, is asked once per file, never with the lock held.
  std::vector<Hit> search(std::span<const float> query, std::size_t limit,
                          const std::function<bool(std::int64_t)>& include = {}) const;
  // The same with the files asked about in batches; still at most once each.
  std::vector<Hit> search(std::span<const float> query, std::size_t limit,
                          const FileFilter& includeFiles) const;

  // Rows stored including dead ones, and dead ones (for tests of compaction).
  std::size_t storedRows() const;
  std::size_t deadRows() const;

 private:
  // Rows are kept in chunks of chunkRows. Full chunks never change and are shared with
  // the snapshots searches take, so a snapshot copies only the last, partial chunk.
  static constexpr std::size_t chunkRows = 2048;
  // A row as stored, with its file's slot: a small number, unique among the files that have
  // rows, by which a filtered search remembers its answers in an array instead of a map.
  struct StoredRow {
    Row row;
    std::uint32_t fileSlot = 0;
  };
  struct FileRows {
    std::uint32_t slot = 0;
    std::vector<std::size_t> rows;  // live rows only, in the order they were added
  };
  using RowChunk = std::vector<StoredRow>;
  using SharedChunks = std::vector<std::shared_ptr<const RowChunk>>;
  // Vectors in blocks of chunkRows rows, each block allocated whole when its first row
  // comes: growing adds a block and never moves (or copies) the rows already stored, which
  // at millions of rows would mean gigabytes under the lock every search needs.
  using VectorChunks = std::vector<std::unique_ptr<Half[]>>;
  static void appendVector(VectorChunks& chunks, std::size_t r, std::span<const Half> vector);
  class RowsSnapshot;
  class Admission;  // which rows one search may list
  static void appendRow(SharedChunks& chunks, RowChunk& tail, const StoredRow& row);

  std::size_t rowCountLocked() const REQUIRES(lock_) {
    return chunks_.size() * chunkRows + tail_.size();
  }
  const Row& rowLocked(std::size_t r) const REQUIRES(lock_);
  const Half* vectorLocked(std::size_t r) const REQUIRES(lock_) {
    return vectors_[r / chunkRows].get() + r % chunkRows * dim_;
  }
  void compactLocked() REQUIRES(lock_);
  // Scores every stored row (dead ones too) into scores, in parallel blocks, and returns
  // the best limit live rows, best first; lock_ held.
  std::vector<TopRows::Entry> scorePassLocked(std::span<const float> query, std::size_t limit,
                                              std::vector<float>& scores) const REQUIRES(lock_);

  const std::size_t dim_;
  // Guards every member below: the vectors, the rows and their flags, the files' rows and
  // slots. A search holds it only to score and to snapshot the rows, never while it asks
  // its filter.
  mutable Mutex lock_;
  VectorChunks vectors_
      GUARDED_BY(lock_);  // row r at vectors_[r / chunkRows] + r % chunkRows * dim_
  SharedChunks chunks_ GUARDED_BY(lock_);     // rows 0 .. chunks_.size() * chunkRows - 1
  RowChunk tail_ GUARDED_BY(lock_);           // the rows after those
  std::vector<bool> dead_ GUARDED_BY(lock_);  // one flag per row: retired, waiting for compaction
  std::size_t deadCount_ GUARDED_BY(lock_) = 0;
  std::unordered_map<std::int64_t, FileRows> rowsByFile_ GUARDED_BY(lock_);
  std::uint32_t fileSlots_ GUARDED_BY(lock_) = 0;  // slots handed out since the last compaction
};

}  // namespace quillmere
