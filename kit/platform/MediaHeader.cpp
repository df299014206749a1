// SPDX-License-Identifier: GPL-3.0-or-later
// MediaHeader: opening a media file through FFmpeg and reading its headers.
#include "platform/MediaHeader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <mutex>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
}

namespace quillmere {

MediaHeader::MediaHeader(const std::filesystem::path& file) {
  // The engine keeps no log, and damaged files are reported as failures: FFmpeg's own
  // console messages would only be noise.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
  // Only the local file itself: a playlist posing as a video must not make the engine
  // fetch its segments over the network. The "file:" prefix keeps a name with a colon
  // from being taken for a protocol.
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  const std::string url = "file:" + file.string();
  error_ = avformat_open_input(&format_, url.c_str(), nullptr, &options);
  av_dict_free(&options);
  if (error_ < 0) {
    format_ = nullptr;
    return;
  }
  error_ = avformat_find_stream_info(format_, nullptr);
  if (error_ > 0) error_ = 0;
}

MediaHeader::~MediaHeader() {
  if (format_) avformat_close_input(&format_);
}

AVFormatContext* MediaHeader::release() {
  AVFormatContext* format = format_;
  format_ = nullptr;
  return format;
}

int MediaHeader::videoStream() const {
  if (!format_) return -1;
  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    const AVStream* stream = format_->streams[i];
    const bool coverPicture = (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !coverPicture) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

MediaHeader::Size MediaHeader::naturalSize(const AVStream* stream) {
  const AVCodecParameters* codec = stream->codecpar;
  Size size{static_cast<double>(codec->width), static_cast<double>(codec->height)};
  const AVRational aspect = stream->sample_aspect_ratio.num > 0 ? stream->sample_aspect_ratio
                                                                : codec->sample_aspect_ratio;
  if (aspect.num > 0 && aspect.den > 0) size.width = size.width * aspect.num / aspect.den;
  return size;
}

std::optional<std::array<std::int32_t, 9>> MediaHeader::displayMatrix(const AVStream* stream) {
  std::size_t size = 0;
  const std::uint8_t* data = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (!data || size < 9 * sizeof(std::int32_t)) return std::nullopt;
  std::array<std::int32_t, 9> matrix{};
  std::copy_n(reinterpret_cast<const std::int32_t*>(data), 9, matrix.begin());
  return matrix;
}

int MediaHeader::pixels(double side) {
  if (!(side > 0)) return 0;
  const double whole = std::round(side);
  return whole >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(whole);
}

}  // namespace quillmere
