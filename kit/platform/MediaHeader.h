// SPDX-License-Identifier: GPL-3.0-or-later
// The first steps of every reading of a media file through FFmpeg, in one place: FFmpeg's
// console kept quiet, the file opened through the file protocol alone, its stream headers
// read, the first video track found (cover pictures skipped) and that track's pixel aspect
// ratio and display matrix read. MediaProbe and VideoDecoder both start here.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>

struct AVFormatContext;
struct AVStream;

namespace quillmere {

class MediaHeader {
 public:
  // Opens the file and reads its stream headers. Never throws: see error().
  explicit MediaHeader(const std::filesystem::path& file);
  ~MediaHeader();
  MediaHeader(const MediaHeader&) = delete;
  MediaHeader& operator=(const MediaHeader&) = delete;

  // FFmpeg's (negative) code for the step that failed, the opening or the stream headers;
  // 0 when both succeeded.
  int error() const { return error_; }
  // Whether the file was opened, even if its stream headers could not be read.
  bool opened() const { return format_ != nullptr; }
  AVFormatContext* format() const { return format_; }
  // Hands the opened file to the caller, who closes it with avformat_close_input.
  AVFormatContext* release();

  // The first video track that is not a cover picture; -1 when there is none.
  int videoStream() const;

  // The track's stored picture size, its width scaled by the pixel aspect ratio (the
  // stream's, else the codec's); not rounded.
  struct Size {
    double width = 0;
    double height = 0;
  };
  static Size naturalSize(const AVStream* stream);
  // The track's display matrix (16.16 fixed point, row major), when it has one.
  static std::optional<std::array<std::int32_t, 9>> displayMatrix(const AVStream* stream);
  // A side in whole pixels, the one rounding of every size read here: the nearest whole
  // number; 0 when not positive; at most INT_MAX, which a hostile aspect ratio or matrix
  // could exceed.
  static int pixels(double side);

 private:
  AVFormatContext* format_ = nullptr;
  int error_ = 0;
};

}  // namespace quillmere
