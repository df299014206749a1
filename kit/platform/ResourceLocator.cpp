// SPDX-License-Identifier: GPL-3.0-or-later
// The installed resources' folder, found from the running program's own path.
#include "platform/ResourceLocator.h"

#include <system_error>

namespace quillmere {

std::optional<std::filesystem::path> ResourceLocator::executableDirectory() {
  std::error_code error;
  std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || executable.empty()) return std::nullopt;
  return executable.parent_path();
}

std::optional<std::filesystem::path> ResourceLocator::resourcesDirectory() {
  auto directory = executableDirectory();
  if (!directory) return std::nullopt;
  return resourcesDirectory(*directory);
}

std::optional<std::filesystem::path> ResourceLocator::resourcesDirectory(
    const std::filesystem::path& executableDirectory) {
  std::filesystem::path resources =
      (executableDirectory / ".." / "share" / "quillmere").lexically_normal();
  std::error_code error;
  if (!std::filesystem::is_directory(resources, error)) return std::nullopt;
  return resources;
}

}  // namespace quillmere
