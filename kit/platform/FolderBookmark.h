// SPDX-License-Identifier: GPL-3.0-or-later
// The persistent handle of a folder: the UUID of the drive it lives on and its path inside
// that drive, so that the folder is found again when the drive is mounted at another place,
// or through another of its mounts (a btrfs subvolume, a bind mount).
#pragma once

#include <optional>
#include <string>

#include "core/Records.h"

namespace quillmere {

struct FolderBookmark {
  // What inner is relative to.
  enum class Base {
    driveRoot,   // the top of the drive's file system
    mountPoint,  // where the drive was mounted when the folder was added (older handles)
  };

  std::string volumeUUID;
  std::string inner;  // no leading "/"; "" for the base itself
  Base base = Base::driveRoot;

  Bytes encode() const;
  // Nothing for bytes that are not a bookmark of either form.
  static std::optional<FolderBookmark> decode(const Bytes& bytes);

  bool operator==(const FolderBookmark&) const = default;
};

}  // namespace quillmere
