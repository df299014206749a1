// SPDX-License-Identifier: GPL-3.0-or-later
#include "AtomicFile.h"

#include <unistd.h>

#include <fstream>
#include <system_error>

namespace quillmere::AtomicFile {

std::filesystem::path temporaryBeside(const std::filesystem::path& target, const std::string& tag) {
  auto temporary = target;
  temporary += "." + tag + "-" + std::to_string(::getpid());
  return temporary;
}

void write(const std::filesystem::path& file, std::string_view bytes) {
  const auto temporary = temporaryBeside(file, "part");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      throw WriteFailed("cannot write " + file.string());
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, file, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    throw std::filesystem::filesystem_error("cannot rename", temporary, file, error);
  }
}

}  // namespace quillmere::AtomicFile
