// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace quillmere {
namespace {

[[noreturn]] void fail(const std::filesystem::path& path, int error) {
  throw std::system_error(error, std::generic_category(), "cannot read " + path.string());
}

}  // namespace

MappedFile::MappedFile(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fail(path, errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    fail(path, error);
  }
  size_ = static_cast<std::size_t>(info.st_size);
  if (size_ > 0) {
    void* address = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (address == MAP_FAILED) {
      const int error = errno;
      ::close(fd);
      fail(path, error);
    }
    data_ = static_cast<const std::uint8_t*>(address);
  }
  ::close(fd);  // the mapping keeps the file
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

}  // namespace quillmere
