// SPDX-License-Identifier: GPL-3.0-or-later
// A read-only private mapping of a whole file, unmapped when it goes away. Pages are read
// from disk as they are touched and, being the file's own, can be dropped again under memory
// pressure instead of being swapped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace quillmere {

class MappedFile {
 public:
  // Throws std::system_error ("cannot read <path>") when the file can't be opened or mapped.
  explicit MappedFile(const std::filesystem::path& path);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace quillmere
