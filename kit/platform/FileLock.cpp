// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace quillmere {

std::optional<int> FileLock::tryExclusive(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), path.string());
  int result;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return fd;
  const int error = errno;
  ::close(fd);
  if (error == EWOULDBLOCK) return std::nullopt;
  throw std::system_error(error, std::generic_category(), path.string());
}

}  // namespace quillmere
