// SPDX-License-Identifier: GPL-3.0-or-later
// The advisory flock(2) that keeps two processes from writing one library at once.
#include "index/LibraryLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace quillmere {

LibraryLock::Busy::Busy(const std::filesystem::path& library)
    : std::runtime_error("The library " + library.string() +
                         " is in use by another Quillmere process (the app or an indexing "
                         "quillmere-cli). Quit it, or wait until it is done, and try again.") {}

std::filesystem::path LibraryLock::lockPath(const std::filesystem::path& library) {
  auto path = library;
  path += ".lock";
  return path;
}

LibraryLock::LibraryLock(const std::filesystem::path& library) {
  if (library.has_parent_path()) std::filesystem::create_directories(library.parent_path());
  const auto path = lockPath(library);
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), path.string());
  int result;
  do {
    result = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int error = errno;
    ::close(fd_);
    fd_ = -1;
    if (error == EWOULDBLOCK) throw Busy(library);
    throw std::system_error(error, std::generic_category(), path.string());
  }
}

LibraryLock::~LibraryLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the flock
}

}  // namespace quillmere
