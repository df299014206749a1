// SPDX-License-Identifier: GPL-3.0-or-later
#include "indexer/WriteRefusals.h"

#include <system_error>

namespace quillmere {

WriteRefusals::Refusal WriteRefusals::of(const SQLite::Failure& failure,
                                         const std::filesystem::path& library) {
  std::error_code ec;
  Refusal refusal{.cause = failure.cause(),
                  .folder = std::filesystem::absolute(library, ec).parent_path().string()};
  if (refusal.cause == Refusal::Cause::other) refusal.detail = failure.reason();
  return refusal;
}

std::optional<WriteRefusals::Refusal> WriteRefusals::ofError(const std::exception_ptr& error,
                                                             const std::filesystem::path& library) {
  try {
    std::rethrow_exception(error);
  } catch (const SQLite::Failure& failure) {
    if (failure.isStorageFault()) return of(failure, library);
  } catch (...) {
  }
  return std::nullopt;
}

void WriteRefusals::startRun() {
  MutexLock guard(lock_);
  heldBack_.clear();
  inRow_ = 0;
  ended_ = false;
  last_.reset();
}

void WriteRefusals::holdBack(const std::vector<std::int64_t>& fileIDs, const Refusal& why) {
  MutexLock guard(lock_);
  heldBack_.insert(fileIDs.begin(), fileIDs.end());
  last_ = why;
  if (++inRow_ >= limit_) ended_ = true;
}

void WriteRefusals::countWritten() {
  MutexLock guard(lock_);
  inRow_ = 0;
}

bool WriteRefusals::isHeldBack(std::int64_t fileID) const {
  MutexLock guard(lock_);
  return heldBack_.contains(fileID);
}

std::set<std::int64_t> WriteRefusals::heldBack() const {
  MutexLock guard(lock_);
  return heldBack_;
}

bool WriteRefusals::endedRun() const {
  MutexLock guard(lock_);
  return ended_;
}

std::optional<WriteRefusals::Refusal> WriteRefusals::last() const {
  MutexLock guard(lock_);
  return last_;
}

}  // namespace quillmere
