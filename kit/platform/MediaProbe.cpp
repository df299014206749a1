// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/MediaProbe.h"

#include <cmath>
#include <cstdint>
#include <mutex>
#include <string>
#include <system_error>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/log.h>
}

namespace quillmere {

namespace {

struct InputCloser {
  AVFormatContext* context = nullptr;
  ~InputCloser() {
    if (context) avformat_close_input(&context);
  }
};

double positiveRate(AVRational rate) {
  if (rate.num <= 0 || rate.den <= 0) return 0;
  return av_q2d(rate);
}

std::optional<double> containerDuration(const AVFormatContext* context) {
  if (context->duration == AV_NOPTS_VALUE || context->duration < 0) return std::nullopt;
  const double seconds = static_cast<double>(context->duration) / AV_TIME_BASE;
  if (!std::isfinite(seconds)) return std::nullopt;
  return seconds;
}

MediaProbe::VideoTrack videoTrack(const AVStream* stream) {
  MediaProbe::VideoTrack track;
  const AVCodecParameters* codec = stream->codecpar;
  double width = codec->width;
  const AVRational aspect = stream->sample_aspect_ratio.num > 0 ? stream->sample_aspect_ratio
                                                                : codec->sample_aspect_ratio;
  if (aspect.num > 0 && aspect.den > 0) width = std::round(width * av_q2d(aspect));
  track.width = width > 0 && width < 1e6 ? static_cast<int>(width) : 0;
  track.height = codec->height;
  track.frameRate = positiveRate(stream->avg_frame_rate);
  if (track.frameRate == 0) track.frameRate = positiveRate(stream->r_frame_rate);

  std::size_t size = 0;
  const std::uint8_t* data = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (data && size >= 9 * sizeof(std::int32_t)) {
    const auto* matrix = reinterpret_cast<const std::int32_t*>(data);
    // a, b, c, d are 16.16 fixed point.
    track.transform = {matrix[0] / 65536.0, matrix[1] / 65536.0, matrix[3] / 65536.0,
                       matrix[4] / 65536.0};
  }
  return track;
}

}  // namespace

MediaProbe::Info MediaProbe::read(const std::filesystem::path& file) {
  // The engine keeps no log: FFmpeg's own messages about damaged files stay quiet.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
  Info info;
  // A pipe or device would block or never end; only plain files are media.
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return info;
  InputCloser input;
  AVDictionary* options = nullptr;
  // Only the local file itself: a hostile playlist must not reach out to other protocols.
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  // The "file:" prefix keeps a name with a colon from being taken for a protocol.
  const std::string url = "file:" + file.string();
  const int opened = avformat_open_input(&input.context, url.c_str(), nullptr, &options);
  av_dict_free(&options);
  if (opened < 0) {
    input.context = nullptr;
    return info;
  }
  if (avformat_find_stream_info(input.context, nullptr) < 0) {
    info.duration = containerDuration(input.context);
    return info;
  }
  info.duration = containerDuration(input.context);
  info.tracksLoaded = true;
  for (unsigned i = 0; i < input.context->nb_streams; ++i) {
    const AVStream* stream = input.context->streams[i];
    const AVMediaType type = stream->codecpar->codec_type;
    if (type == AVMEDIA_TYPE_AUDIO) info.hasAudio = true;
    const bool coverPicture = (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    if (type == AVMEDIA_TYPE_VIDEO && !coverPicture && !info.video) {
      info.video = videoTrack(stream);
    }
  }
  return info;
}

}  // namespace quillmere
