// SPDX-License-Identifier: GPL-3.0-or-later
// The advisory flock(2) by which Quillmere's processes keep out of each other's way: one
// writer of a library, one download of an export.
#pragma once

#include <filesystem>
#include <optional>

namespace quillmere {

class FileLock {
 public:
  // Opens (creating) the file at path and locks it, without waiting: the open descriptor,
  // whose closing releases the lock, or nothing while another holds it. Throws
  // std::system_error on any other failure.
  static std::optional<int> tryExclusive(const std::filesystem::path& path);
};

}  // namespace quillmere
