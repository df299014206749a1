// SPDX-License-Identifier: GPL-3.0-or-later
// The advisory lock that keeps two processes from writing one library at once: flock(2) on
// a sidecar "<library>.lock" file (SQLite's own POSIX locks on the database stay apart).
// A writer holds it alone and nobody waits for it; readers never take it, as SQLite's
// write-ahead log lets them read beside the one writer.
#pragma once

#include <filesystem>
#include <stdexcept>

namespace quillmere {

class LibraryLock {
 public:
  // Another process holds the lock; the front ends say what to do about it.
  class Busy : public std::runtime_error {
   public:
    Busy();
  };

  // Creates the library's directory and the lock file when missing. Throws Busy, or
  // std::system_error when the lock file cannot be opened.
  explicit LibraryLock(const std::filesystem::path& library);
  ~LibraryLock();
  LibraryLock(const LibraryLock&) = delete;
  LibraryLock& operator=(const LibraryLock&) = delete;

  static std::filesystem::path lockPath(const std::filesystem::path& library);

 private:
  int fd_ = -1;
};

}  // namespace quillmere
