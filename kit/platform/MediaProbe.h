// SPDX-License-Identifier: GPL-3.0-or-later
// What FFmpeg reads from a media file's container and stream headers, without decoding
// any frame: duration, whether there is sound, and the first video track's geometry and rate.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>

namespace quillmere {

class MediaProbe {
 public:
  struct VideoTrack {
    int width = 0;  // stored picture size, the width scaled by the sample aspect ratio
    int height = 0;
    double frameRate = 0;  // nominal frames per second; 0 when the file does not say
    // a, b, c, d of the display matrix (x' = a x + c y, y' = b x + d y); identity when none.
    std::array<double, 4> transform{1, 0, 0, 1};

    bool operator==(const VideoTrack&) const = default;
  };

  struct Info {
    std::optional<double> duration;  // seconds, when the container knows a finite one
    bool tracksLoaded = false;       // the stream headers could be read
    bool hasAudio = false;
    std::optional<VideoTrack> video;          // first video track (cover pictures do not count)
    std::optional<std::string> creationTime;  // the container's creation_time, as written

    bool operator==(const Info&) const = default;
  };

  MediaProbe() = delete;

  // Never throws: whatever cannot be read stays empty.
  static Info read(const std::filesystem::path& file);
};

}  // namespace quillmere
