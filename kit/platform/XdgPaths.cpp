// SPDX-License-Identifier: GPL-3.0-or-later
// The XDG base directories of the user, from the environment or their defaults.
#include "platform/XdgPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace quillmere::XdgPaths {

namespace {

// A base directory variable counts only when set to an absolute path; relative or empty
// values are ignored, as the XDG base directory rules ask.
std::filesystem::path baseDirectory(const char* variable, const char* fallbackUnderHome) {
  if (const char* value = std::getenv(variable)) {
    std::filesystem::path path(value);
    if (path.is_absolute()) return path;
  }
  return home() / fallbackUnderHome;
}

}  // namespace

std::filesystem::path home() {
  if (const char* value = std::getenv("HOME"); value && *value) return value;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir) {
    return found->pw_dir;
  }
  return "/";
}

std::filesystem::path dataHome() {
  return baseDirectory("XDG_DATA_HOME", ".local/share");
}

std::filesystem::path cacheHome() {
  return baseDirectory("XDG_CACHE_HOME", ".cache");
}

}  // namespace quillmere::XdgPaths
