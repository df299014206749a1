// SPDX-License-Identifier: GPL-3.0-or-later
// standardPath: the standard form of a path.
#include "core/StandardPath.h"

#include <system_error>

namespace quillmere {

std::string standardPath(const std::filesystem::path& path) {
  std::error_code error;
  auto full = std::filesystem::absolute(path, error);
  if (error) full = path;
  auto text = full.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

}  // namespace quillmere
