// SPDX-License-Identifier: GPL-3.0-or-later
// Where the installed resources are: <prefix>/share/quillmere, found from the running
// executable's own location (<prefix>/bin, or a build tree's tests/, cli/, bench/ folders).
#pragma once

#include <filesystem>
#include <optional>

namespace quillmere {

class ResourceLocator {
 public:
  // The folder holding the running executable (from /proc/self/exe).
  static std::optional<std::filesystem::path> executableDirectory();
  // <executable dir>/../share/quillmere when that directory exists.
  static std::optional<std::filesystem::path> resourcesDirectory();
  static std::optional<std::filesystem::path> resourcesDirectory(
      const std::filesystem::path& executableDirectory);
};

}  // namespace quillmere
