// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DriveBoundary.h"

#include <fcntl.h>

namespace quillmere {

bool DriveBoundary::isMountPoint(const std::filesystem::path& directory, const struct stat& info,
                                 dev_t outerDevice) {
  struct statx extra {};
  if (::statx(AT_FDCWD, directory.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE,
              &extra) == 0 &&
      (extra.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0) {
    return (extra.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  }
  return info.st_dev != outerDevice;
}

bool DriveBoundary::crosses(const std::filesystem::path& outer,
                            const std::filesystem::path& inner) {
  const auto relative = inner.lexically_relative(outer);
  if (relative.empty() || *relative.begin() == "..") return false;
  struct stat outerInfo {};
  if (::lstat(outer.c_str(), &outerInfo) != 0) return false;
  std::filesystem::path step = outer;
  for (const auto& part : relative) {
    if (part == ".") continue;
    step /= part;
    struct stat info {};
    if (::lstat(step.c_str(), &info) != 0) return false;
    if (isMountPoint(step, info, outerInfo.st_dev)) return true;
  }
  return false;
}

}  // namespace quillmere
