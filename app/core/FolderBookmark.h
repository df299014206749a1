// The persistent handle of a folder: the UUID of the drive it lives on and its path inside
// that drive, so that the folder is found again when the drive is mounted at another place.
#pragma once

#include <optional>
#include <string>

#include "core/Records.h"

namespace quillmere {

struct FolderBookmark {
  std::string volumeUUID;
  std::string inner;  // path below the drive's mount point, "" for the mount point itself

  Bytes encode() const;
  // Nothing for bytes that are not a bookmark of this form.
  static std::optional<FolderBookmark> decode(const Bytes& bytes);

  bool operator==(const FolderBookmark&) const = default;
};

}  // namespace quillmere
