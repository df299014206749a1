// SPDX-License-Identifier: GPL-3.0-or-later
// The advisory flock(2) that keeps two processes from writing one library at once.
#include "index/LibraryLock.h"

#include <unistd.h>

#include "platform/FileLock.h"

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
  const auto fd = FileLock::tryExclusive(path);
  if (!fd) throw Busy(library);
  fd_ = *fd;
}

LibraryLock::~LibraryLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the flock
}

}  // namespace quillmere
