// The advisory lock that keeps two processes from writing one library at once: flock(2) on
// a sidecar "<library>.lock" file (SQLite's own POSIX locks on the database stay apart).
// Readers share it, a writer holds it alone; nobody waits for it.
#pragma once

#include <filesystem>
#include <stdexcept>

namespace quillmere {

class LibraryLock {
 public:
  enum class Mode { shared, exclusive };

  // Another process holds the lock in a conflicting mode.
  class Busy : public std::runtime_error {
   public:
    explicit Busy(const std::filesystem::path& library);
  };

  // Creates the library's directory and the lock file when missing. Throws Busy, or
  // std::system_error when the lock file cannot be opened.
  LibraryLock(const std::filesystem::path& library, Mode mode);
  ~LibraryLock();
  LibraryLock(const LibraryLock&) = delete;
  LibraryLock& operator=(const LibraryLock&) = delete;

  static std::filesystem::path lockPath(const std::filesystem::path& library);

 private:
  int fd_ = -1;
};

}  // namespace quillmere
