#include "FolderBookmark.h"

#include <string_view>

namespace quillmere {
namespace {

constexpr std::string_view magic = "quillmere-volume\n";

}  // namespace

Bytes FolderBookmark::encode() const {
  const std::string text = std::string(magic) + volumeUUID + "\n" + inner;
  return Bytes(text.begin(), text.end());
}

std::optional<FolderBookmark> FolderBookmark::decode(const Bytes& bytes) {
  const std::string text(bytes.begin(), bytes.end());
  if (!text.starts_with(magic)) return std::nullopt;
  const auto rest = text.substr(magic.size());
  const auto newline = rest.find('\n');
  if (newline == std::string::npos || newline == 0) return std::nullopt;
  return FolderBookmark{rest.substr(0, newline), rest.substr(newline + 1)};
}

}  // namespace quillmere
