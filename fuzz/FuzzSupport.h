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
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = s[i];
    std::size_t length = 0;
    std::uint32_t scalar = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      length = 2, scalar = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3, scalar = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4, scalar = c & 0x07;
    } else {
      return false;
    }
    if (n - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      scalar = scalar << 6 | (s[i + k] & 0x3F);
    }
    if ((length == 3 && scalar < 0x800) || (length == 4 && scalar < 0x10000) ||
        (scalar >= 0xD800 && scalar <= 0xDFFF) || scalar > 0x10FFFF)
      return false;
    i += length;
  }
  return true;
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
