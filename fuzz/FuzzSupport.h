// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the fuzz targets: invariant checks that abort (libFuzzer then keeps the
// input as a crash) and a per-process scratch file for the media readers.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "core/Utf8.h"

namespace quillmere::fuzz {

[[noreturn]] inline void fail(const std::string& what) {
  std::fprintf(stderr, "fuzz invariant violated: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

inline void require(bool holds, const std::string& what) {
  if (!holds) fail(what);
}

// Whether the bytes are well-formed UTF-8 (no surrogates, no overlong forms, at most U+10FFFF).
inline bool validUTF8(const std::string& text) {
  return Utf8::isValid(text);
}

// One file per extension and process, rewritten for every input, removed at exit.
class ScratchFiles {
 public:
  ~ScratchFiles() {
    for (const auto& [extension, path] : paths_) {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    }
  }

  const std::filesystem::path& write(const std::string& extension, const std::uint8_t* data,
                                     std::size_t size) {
    auto found = paths_.find(extension);
    if (found == paths_.end()) {
      const char* tmp = std::getenv("TMPDIR");
      std::filesystem::path dir = tmp && *tmp ? tmp : "/tmp";
      auto path = dir / ("quillmere-fuzz-" + std::to_string(::getpid()) + "." + extension);
      found = paths_.emplace(extension, path).first;
    }
    std::ofstream out(found->second, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    require(static_cast<bool>(out), "the scratch file could not be written");
    return found->second;
  }

 private:
  std::map<std::string, std::filesystem::path> paths_;
};

}  // namespace quillmere::fuzz
