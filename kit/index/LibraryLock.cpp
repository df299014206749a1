// SPDX-License-Identifier: GPL-3.0-or-later
// The advisory flock(2) that keeps two processes from writing one library at once.
#include "index/LibraryLock.h"

#include <unistd.h>

#include "platform/FileLock.h"

namespace quillmere {

LibraryLock::Busy::Busy() : std::runtime_error("the library's lock is held by another process") {}

std::filesystem::path LibraryLock::lockPath(const std::filesystem::path& library) {
  auto path = library;
  path += ".lock";
  return path;
}

LibraryLock::LibraryLock(const std::filesystem::path& library) {
  if (library.has_parent_path()) std::filesystem::create_directories(library.parent_path());
  const auto path = lockPath(library);
  const auto fd = FileLock::tryExclusive(path);
  if (!fd) throw Busy();
  fd_ = *fd;
}

LibraryLock::~LibraryLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the flock
}

}  // namespace quillmere
