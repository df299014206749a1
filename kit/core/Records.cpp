// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's plain records: their stored column values and derived paths and names.
#include "core/Records.h"

#include <cstring>

namespace quillmere {

std::optional<MediaKind> mediaKindFromRaw(std::int64_t raw) {
  if (raw == 0) return MediaKind::photo;
  if (raw == 1) return MediaKind::video;
  return std::nullopt;
}

MediaKind mediaKindFromColumn(std::int64_t raw) {
  return raw == 1 ? MediaKind::video : MediaKind::photo;
}

std::optional<FileState> fileStateFromRaw(std::int64_t raw) {
  if (raw >= 0 && raw <= 2) return static_cast<FileState>(raw);
  return std::nullopt;
}

FileState fileStateFromColumn(std::int64_t raw) {
  return fileStateFromRaw(raw).value_or(FileState::pending);
}

std::filesystem::path Root::basePath() const {
  std::filesystem::path filePath(path);
  if (!filePath.empty() && !filePath.has_filename()) return filePath;
  return filePath / "";
}

namespace {

// The last non-empty "/"-separated component, or empty when there is none.
std::string lastComponent(const std::string& path) {
  std::size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return {};
  const std::size_t slash = path.rfind('/', end);
  const std::size_t begin = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(begin, end - begin + 1);
}

}  // namespace

std::string Root::name() const {
  std::string last = lastComponent(path);
  return last.empty() ? path : last;
}

std::string MediaFile::name() const {
  return lastComponent(relPath);
}

Bytes encodeVector(const std::vector<Half>& vector) {
  Bytes bytes(vector.size() * 2);
  for (std::size_t i = 0; i < vector.size(); ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(vector[i] & 0xff);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(vector[i] >> 8);
  }
  return bytes;
}

std::optional<std::vector<Half>> decodeVector(const std::uint8_t* data, std::size_t size,
                                              std::size_t dim) {
  if (size != 2 * dim || (dim > 0 && data == nullptr)) return std::nullopt;
  std::vector<Half> vector(dim);
  for (std::size_t i = 0; i < dim; ++i) {
    vector[i] = static_cast<Half>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return vector;
}

}  // namespace quillmere
