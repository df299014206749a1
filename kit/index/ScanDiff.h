// SPDX-License-Identifier: GPL-3.0-or-later
// What one complete listing of a folder changes in the files the library holds for it:
// newcomers, files changed on disk, files moved to another path and files gone. Pure: it
// reads two lists and touches no database, so Library::applyScan only has to apply it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/Records.h"

namespace quillmere {

struct ScanDiff {
  // A known file found under a new relative path, with the same name, size and whole-second
  // mtime; only its path changes.
  struct Move {
    MediaFile file;       // the record as the library holds it
    std::string relPath;  // where the listing found it
    bool operator==(const Move&) const = default;
  };

  // cached: the library's files of one folder; listing: everything one scan of that folder
  // found; unreadable: the relative paths the scan could not read whole ("" for the folder
  // itself). A known file is changed when its size differs or its mtime differs by more
  // than 0.5 s; a vanished file is moved when a newcomer has its move key (the later of two
  // vanished files with one key wins, the first newcomer claims it), else removed. Nothing
  // at or under an unreadable path changes: the scan does not know what is there.
  static ScanDiff between(const std::vector<MediaFile>& cached,
                          const std::vector<ScannedFile>& listing,
                          const std::vector<std::string>& unreadable = {});
  // Whether relPath is path itself or lies under it ("" holds everything).
  static bool isWithin(std::string_view relPath, std::string_view path);

  // name|size|whole seconds of mtime (truncated toward zero): what a moved file keeps.
  static std::string moveKey(const std::string& relPath, std::int64_t size, double mtime);

  std::vector<ScannedFile> added;  // listing order; a repeated path once
  // The new records: size and mtime from the listing, pending, no error nor capture time;
  // the rest kept.
  std::vector<MediaFile> changed;
  std::vector<Move> moved;         // listing order of the newcomers
  std::vector<MediaFile> removed;  // cached order

  bool operator==(const ScanDiff&) const = default;
};

}  // namespace quillmere
