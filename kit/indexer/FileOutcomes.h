// SPDX-License-Identifier: GPL-3.0-or-later
// How a file the indexer could not index is left. Its failure is marked only while it still
// exists, unchanged since it was listed; one found gone is passed over for the rest of the
// run (until a scan of its folder), one a scan changed meanwhile waits for its new content,
// and a mark the library refuses is held back with the run's refused writes.
#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "core/Records.h"
#include "core/ThreadAnnotations.h"
#include "index/Library.h"
#include "indexer/WriteRefusals.h"

namespace quillmere {

class FileOutcomes {
 public:
  FileOutcomes(Library& library, WriteRefusals& refusals);

  // The message a failure is marked with: the error's own text.
  static std::string messageOf(const std::exception_ptr& error);

  void startRun();  // nothing passed over
  // Marks the file failed with the message; true when it was marked.
  bool fail(const MediaFile& file, const std::filesystem::path& filePath,
            const std::string& message);
  // The library still holds the file with the size and time it was listed with: no scan
  // removed it or found it changed since.
  bool stillListed(const MediaFile& file) const;
  std::set<std::int64_t> passedOver() const;
  // A scan of the folder settled the state of its files passed over.
  void scanned(std::int64_t rootID);

 private:
  void refusedMark(const MediaFile& file, const std::exception& error);

  Library& library_;
  WriteRefusals& refusals_;
  mutable Mutex lock_;
  std::map<std::int64_t, std::int64_t> passedOver_ GUARDED_BY(lock_);  // file id to folder id
};

}  // namespace quillmere
