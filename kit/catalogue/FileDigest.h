// SPDX-License-Identifier: GPL-3.0-or-later
// Digests of files' bytes with GLib's checksums, read a megabyte at a time: the weights part
// of a model's signature, and the check of a downloaded file against the hub's.
#pragma once

#include <glib.h>

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "catalogue/ImportStop.h"

namespace quillmere {

class FileDigest {
 public:
  FileDigest() = delete;

  // The lower-case hex digest of `prefix` followed by the files' bytes, one after the other;
  // nothing when a file cannot be read. Asks `stop` at every megabyte (throws its Stopped).
  static std::optional<std::string> of(GChecksumType type,
                                       std::initializer_list<std::filesystem::path> files,
                                       std::string_view prefix = {}, const ImportStop& stop = {});
};

}  // namespace quillmere
