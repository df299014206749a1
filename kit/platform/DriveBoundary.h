// SPDX-License-Identifier: GPL-3.0-or-later
// Where another drive begins inside a folder: a directory on which another file system or a
// bind mount sits. Such a drive is not part of the folder around it (its files would vanish
// from the folder whenever it is unmounted); it can be a folder of its own.
#pragma once

#include <sys/stat.h>

#include <filesystem>

namespace quillmere {

class DriveBoundary {
 public:
  // A mount sits on directory; info is its lstat, outerDevice the device of the folder
  // around it (all that kernels before 5.8 can tell).
  static bool isMountPoint(const std::filesystem::path& directory, const struct stat& info,
                           dev_t outerDevice);
  // A mount sits on inner or on a directory between it and outer (outer not counted). False
  // when inner is not below outer or either can't be read.
  static bool crosses(const std::filesystem::path& outer, const std::filesystem::path& inner);
};

}  // namespace quillmere
