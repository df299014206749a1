// SPDX-License-Identifier: GPL-3.0-or-later
// A run's bookkeeping of the writes the library refused (full disk, I/O error, read-only):
// the files held back for the rest of the run, and the refusals in a row that end it.
#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <set>
#include <vector>

#include "core/ThreadAnnotations.h"
#include "index/SQLite.h"
#include "indexer/IndexingProgress.h"

namespace quillmere {

class WriteRefusals {
 public:
  using Refusal = indexing::Refusal;

  explicit WriteRefusals(int limit) : limit_(limit) {}

  // Why the library at `library` refused a write, with the folder holding it.
  static Refusal of(const SQLite::Failure& failure, const std::filesystem::path& library);
  // The refusal when error is the library's refusal to take a write at all.
  static std::optional<Refusal> ofError(const std::exception_ptr& error,
                                        const std::filesystem::path& library);

  void startRun();
  // The files are left as they were and not offered again in this run; `limit` refusals in
  // a row end it.
  void holdBack(const std::vector<std::int64_t>& fileIDs, const Refusal& why);
  void countWritten();  // refusals in a row start again from none
  bool isHeldBack(std::int64_t fileID) const;
  std::set<std::int64_t> heldBack() const;
  bool endedRun() const;
  // The last refusal of this run, if any.
  std::optional<Refusal> last() const;

 private:
  const int limit_;
  mutable Mutex lock_;
  std::set<std::int64_t> heldBack_ GUARDED_BY(lock_);
  int inRow_ GUARDED_BY(lock_) = 0;
  bool ended_ GUARDED_BY(lock_) = false;
  std::optional<Refusal> last_ GUARDED_BY(lock_);
};

}  // namespace quillmere
