// SPDX-License-Identifier: GPL-3.0-or-later
#include "indexer/FileOutcomes.h"

#include <system_error>

#include "scan/FrameSampler.h"

namespace quillmere {
namespace {

bool existsAt(const std::filesystem::path& filePath) {
  std::error_code ec;
  return std::filesystem::exists(filePath, ec);
}

}  // namespace

std::string FileOutcomes::messageOf(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    // Not a standard exception: no text to give, so the file reads as unreadable.
    return FrameSampler::Failure(FrameSampler::Failure::Reason::unreadable).what();
  }
}

FileOutcomes::FileOutcomes(Library& library, WriteRefusals& refusals)
    : library_(library), refusals_(refusals) {}

void FileOutcomes::startRun() {
  MutexLock guard(lock_);
  passedOver_.clear();
}

bool FileOutcomes::fail(const MediaFile& file, const std::filesystem::path& filePath,
                        const std::string& message) {
  if (!existsAt(filePath)) {
    // Gone with its folder still reachable: it stays pending for the next scan to settle,
    // and is not tried again before then.
    MutexLock guard(lock_);
    passedOver_[file.id] = file.rootID;
    return false;
  }
  // The failure was of content that is no longer there, and the file's new state stands.
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

void FileOutcomes::refusedMark(const MediaFile& file, const std::exception& error) {
  // Unmarked, it stays pending for the next run; tried again in this one, it would be
  // decoded and fail again without end.
  const auto* failure = dynamic_cast<const SQLite::Failure*>(&error);
  refusals_.holdBack({file.id}, failure ? WriteRefusals::of(*failure, library_.location())
                                        : indexing::Refusal{.detail = error.what()});
}

bool FileOutcomes::stillListed(const MediaFile& file) const {
  const std::optional<MediaFile> current = library_.file(file.id);
  return current && current->size == file.size && current->mtime == file.mtime;
}

std::set<std::int64_t> FileOutcomes::passedOver() const {
  MutexLock guard(lock_);
  std::set<std::int64_t> ids;
  for (const auto& [id, root] : passedOver_) ids.insert(id);
  return ids;
}

void FileOutcomes::scanned(std::int64_t rootID) {
  MutexLock guard(lock_);
  std::erase_if(passedOver_, [rootID](const auto& entry) { return entry.second == rootID; });
}

}  // namespace quillmere
