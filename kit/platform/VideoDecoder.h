// SPDX-License-Identifier: GPL-3.0-or-later
// Thin adapter over FFmpeg (libavformat, libavcodec, libswscale): a video's duration, its
// first video stream with the display matrix, the protected-content flag, and upright RGB
// frames near (or exactly at) requested times, delivered in one forward pass.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/Picture.h"

namespace quillmere {

class VideoDecoder {
 public:
  // FFmpeg's own description of why the file could not be opened. invalidData is false
  // only for errors of the file system (missing file, no permission, I/O error).
  class Error : public std::runtime_error {
   public:
    Error(const std::string& what, bool invalidData)
        : std::runtime_error(what), invalidData_(invalidData) {}
    bool invalidData() const { return invalidData_; }

   private:
    bool invalidData_;
  };

  struct Info {
    double duration = 0;  // seconds; 0 when the container gives none
    bool hasVideo = false;
    int naturalWidth = 0;  // coded size with the pixel aspect ratio applied
    int naturalHeight = 0;
    int width = 0;  // display size: the natural rectangle through the display matrix
    int height = 0;
    bool operator==(const Info&) const = default;
  };

  // One answer per requested time, in the order asked.
  struct Result {
    double requested = 0;
    double time = 0;                 // presentation time of the frame delivered
    std::optional<Picture> picture;  // nothing when no frame could be made for this time
  };
  // Returns false to stop the pass.
  using Handler = std::function<bool(const Result&)>;

  // How far a pass read the video stream.
  struct Reach {
    bool ranOut = false;  // the packets ended: the end of the file, or data it cannot read
    double end = 0;       // seconds: the end of the latest video frame read
    bool operator==(const Reach&) const = default;
  };

  // Opens the file and reads its stream information; throws Error.
  explicit VideoDecoder(const std::filesystem::path& file);
  ~VideoDecoder();
  VideoDecoder(const VideoDecoder&) = delete;
  VideoDecoder& operator=(const VideoDecoder&) = delete;

  const Info& info() const;

  // Whether the streams or their first packets carry encryption (common encryption and the
  // like); reads a few packets, which later passes still see.
  bool hasProtectedContent();

  // Frames for ascending times. With a tolerance, the keyframe nearest each time when one
  // lies within it, else the decoded frame nearest the time within it; with tolerance 0,
  // the frame on screen at that time. Frames are upright and fit maxPixels x maxPixels.
  Reach generate(const std::vector<double>& times, double tolerance, int maxPixels,
                 const Handler& handler);

  // Whether the installed FFmpeg can demux and decode video in files with this extension
  // (lowercase, without the dot).
  static bool canPlay(std::string_view extension);

 private:
  struct State;
  class Pass;  // one call of generate
  std::unique_ptr<State> state_;
};

}  // namespace quillmere
