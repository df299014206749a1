// SPDX-License-Identifier: GPL-3.0-or-later
// Reads when a photo or video was taken from its headers alone, decoding no picture: a
// photo's EXIF date, a video container's creation time, else the modification time.
#pragma once

#include <filesystem>

#include "core/Records.h"
#include "platform/ImageCodec.h"

namespace quillmere {

class CaptureTimeReader {
 public:
  CaptureTimeReader() = delete;

  // From a photo header already read (as indexing reads one); mtime when it has no date.
  static CaptureTime fromHeader(const ImageCodec::Header& header, double mtime);
  // Opens the file's headers: the photo's or the container's. Never fails: a file that
  // cannot be read gives its modification time.
  static CaptureTime read(const std::filesystem::path& filePath, const MediaFile& file);
};

}  // namespace quillmere
