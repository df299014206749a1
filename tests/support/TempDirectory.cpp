// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TempDirectory.h"

#include <stdlib.h>
#include <stdexcept>
#include <system_error>

namespace quillmere::test {

TempDirectory::TempDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quillmere-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDirectory::~TempDirectory() {
  std::error_code ignored;
  // Tests may leave read-only folders behind; make them writable before removing.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace quillmere::test
