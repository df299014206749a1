// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's plain records, passed by value between its parts. None of them refers to
// the store; the library persists them and everything else reads copies.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/CaptureTime.h"
#include "core/Float16.h"

namespace quillmere {

using Bytes = std::vector<std::uint8_t>;

enum class MediaKind : std::int64_t { photo = 0, video = 1 };

// 0 and 1 give a kind; anything else gives nothing.
std::optional<MediaKind> mediaKindFromRaw(std::int64_t raw);
// How a stored files.kind column reads back: anything but 1 is a photo.
MediaKind mediaKindFromColumn(std::int64_t raw);
inline std::int64_t rawValue(MediaKind kind) {
  return static_cast<std::int64_t>(kind);
}

enum class FileState : std::int64_t { pending = 0, indexed = 1, failed = 2 };

std::optional<FileState> fileStateFromRaw(std::int64_t raw);
// How a stored files.state column reads back: unknown values are pending.
FileState fileStateFromColumn(std::int64_t raw);
inline std::int64_t rawValue(FileState state) {
  return static_cast<std::int64_t>(state);
}

// A folder the user added.
struct Root {
  std::int64_t id = 0;
  std::string path;
  std::optional<Bytes> bookmark;  // opaque to the store
  std::optional<std::string> volumeUUID;
  std::optional<std::string> volumeName;
  bool isRemovable = false;
  double added = 0;  // seconds since 1970-01-01 UTC

  // The folder as a directory path (with a trailing separator).
  std::filesystem::path basePath() const;
  // Last path component; the path itself when it has none (as for "/").
  std::string name() const;

  bool operator==(const Root&) const = default;
};

// A photo or video the library knows.
struct MediaFile {
  std::int64_t id = 0;
  std::int64_t rootID = 0;
  std::string relPath;  // "/"-separated, relative to the root, no leading "/"
  MediaKind kind = MediaKind::photo;
  std::int64_t size = 0;
  double mtime = 0;     // seconds since 1970-01-01 UTC
  double duration = 0;  // seconds; 0 until indexed
  int width = 0;
  int height = 0;
  FileState state = FileState::pending;
  std::optional<std::string> error;  // only when failed
  std::optional<CaptureTime> taken;  // absent until read from the file

  std::string name() const;  // last component of relPath
  // When it was taken; its modification time until that is read.
  CaptureTime captureTime() const { return taken.value_or(CaptureTime::modified(mtime)); }

  bool operator==(const MediaFile&) const = default;
};

// A media file as one folder scan found it.
struct ScannedFile {
  std::string relPath;
  MediaKind kind = MediaKind::photo;
  std::int64_t size = 0;
  double mtime = 0;

  bool operator==(const ScannedFile&) const = default;
};

// One embedded frame, ready to be stored.
struct FrameRecord {
  double time = 0;                 // seconds from the start of the media
  std::vector<Half> vector;        // exactly the library's dim components
  std::optional<Bytes> thumbnail;  // encoded image, opaque to the store

  bool operator==(const FrameRecord&) const = default;
};

// The stored vector layout: binary16 components, little-endian, 2 * dim bytes, no header.
Bytes encodeVector(const std::vector<Half>& vector);
// Nothing unless the blob is exactly 2 * dim bytes.
std::optional<std::vector<Half>> decodeVector(const std::uint8_t* data, std::size_t size,
                                              std::size_t dim);

}  // namespace quillmere
