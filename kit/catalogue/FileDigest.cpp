// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/FileDigest.h"

#include <fstream>
#include <memory>
#include <vector>

namespace quillmere {

std::optional<std::string> FileDigest::of(GChecksumType type,
                                          std::initializer_list<std::filesystem::path> files,
                                          std::string_view prefix, const ImportStop& stop) {
  std::unique_ptr<GChecksum, decltype(&g_checksum_free)> sum(g_checksum_new(type),
                                                             &g_checksum_free);
  g_checksum_update(sum.get(), reinterpret_cast<const guchar*>(prefix.data()),
                    static_cast<gssize>(prefix.size()));
  std::vector<char> buffer(1 << 20);
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    while (in) {
      stop.check();
      in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      g_checksum_update(sum.get(), reinterpret_cast<const guchar*>(buffer.data()), in.gcount());
    }
    if (in.bad()) return std::nullopt;
  }
  return std::string(g_checksum_get_string(sum.get()));
}

}  // namespace quillmere
