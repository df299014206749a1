// SPDX-License-Identifier: GPL-3.0-or-later
// MediaProbe::read: a media file's duration, sound and first video track, from its headers.
#include "platform/MediaProbe.h"

#include <cmath>
#include <system_error>

#include "platform/MediaHeader.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace quillmere {

namespace {

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
  const auto natural = MediaHeader::naturalSize(stream);
  // A width of a million pixels or more is a damaged header's: none.
  const int width = MediaHeader::pixels(natural.width);
  track.width = width < 1000000 ? width : 0;
  track.height = stream->codecpar->height;
  track.frameRate = positiveRate(stream->avg_frame_rate);
  if (track.frameRate == 0) track.frameRate = positiveRate(stream->r_frame_rate);
  if (const auto matrix = MediaHeader::displayMatrix(stream)) {
    // a, b, c, d are 16.16 fixed point.
    const auto& m = *matrix;
    track.transform = {m[0] / 65536.0, m[1] / 65536.0, m[3] / 65536.0, m[4] / 65536.0};
  }
  return track;
}

}  // namespace

MediaProbe::Info MediaProbe::read(const std::filesystem::path& file) {
  Info info;
  // A pipe or device would block or never end; only plain files are media.
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return info;
  const MediaHeader header(file);
  if (!header.opened()) return info;
  info.duration = containerDuration(header.format());
  if (const AVDictionaryEntry* created =
          av_dict_get(header.format()->metadata, "creation_time", nullptr, 0)) {
    info.creationTime = created->value;
  }
  if (header.error() < 0) return info;
  info.tracksLoaded = true;
  const AVFormatContext* format = header.format();
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) info.hasAudio = true;
  }
  if (const int video = header.videoStream(); video >= 0) {
    info.video = videoTrack(format->streams[video]);
  }
  return info;
}

}  // namespace quillmere
