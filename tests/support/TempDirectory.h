// SPDX-License-Identifier: GPL-3.0-or-later
// A fresh directory under the system's temporary directory, removed with its contents
// when the object goes away.
#pragma once

#include <filesystem>
#include <string>

namespace quillmere::test {

class TempDirectory {
 public:
  TempDirectory();
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace quillmere::test
