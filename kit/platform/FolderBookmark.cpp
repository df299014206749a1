// SPDX-License-Identifier: GPL-3.0-or-later
// Folder bookmarks encoded to bytes and decoded from them.
#include "platform/FolderBookmark.h"

#include <string_view>

namespace quillmere {
namespace {

// Each form has its own first line, so that a version that knows only the older one finds no
// bookmark in the newer and falls back to checking the drive at the folder's path.
constexpr std::string_view belowMountPoint = "quillmere-volume\n";
constexpr std::string_view belowDriveRoot = "quillmere-drive-path\n";

}  // namespace

Bytes FolderBookmark::encode() const {
  const auto magic = base == Base::driveRoot ? belowDriveRoot : belowMountPoint;
  const std::string text = std::string(magic) + volumeUUID + "\n" + inner;
  return Bytes(text.begin(), text.end());
}

std::optional<FolderBookmark> FolderBookmark::decode(const Bytes& bytes) {
  const std::string text(bytes.begin(), bytes.end());
  Base base = Base::driveRoot;
  std::string rest;
  if (text.starts_with(belowDriveRoot)) {
    rest = text.substr(belowDriveRoot.size());
  } else if (text.starts_with(belowMountPoint)) {
    base = Base::mountPoint;
    rest = text.substr(belowMountPoint.size());
  } else {
    return std::nullopt;
  }
  const auto newline = rest.find('\n');
  if (newline == std::string::npos || newline == 0) return std::nullopt;
  return FolderBookmark{rest.substr(0, newline), rest.substr(newline + 1), base};
}

}  // namespace quillmere
