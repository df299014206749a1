// SPDX-License-Identifier: GPL-3.0-or-later
// Capture times from photo and container headers.
#include "scan/CaptureTimeReader.h"

#include "platform/MediaProbe.h"

namespace quillmere {

CaptureTime CaptureTimeReader::fromHeader(const ImageCodec::Header& header, double mtime) {
  return CaptureTime::fromExif(header.exifDateTime, header.exifOffset)
      .value_or(CaptureTime::modified(mtime));
}

CaptureTime CaptureTimeReader::read(const std::filesystem::path& filePath, const MediaFile& file) {
  if (file.kind == MediaKind::photo) {
    if (const auto header = ImageCodec::header(filePath)) return fromHeader(*header, file.mtime);
  } else if (const auto created = MediaProbe::read(filePath).creationTime) {
    if (auto taken = CaptureTime::fromContainer(*created)) return *taken;
  }
  return CaptureTime::modified(file.mtime);
}

}  // namespace quillmere
