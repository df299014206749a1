// SPDX-License-Identifier: GPL-3.0-or-later
// Turns a media file into the pictures that get embedded: one reduced, upright picture for a
// photo; for a video, a sparse scene-aware selection of frames. Also makes the small JPEG
// thumbnail stored with every frame. Stateless; every operation is re-entrant. The video
// operations block while FFmpeg works (callers run them on a background thread).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

#include "core/Picture.h"
#include "core/Records.h"
#include "platform/ImageCodec.h"

namespace quillmere {

class FrameSampler {
 public:
  struct Frame {
    double time = 0;  // seconds from the start of the video; 0 for a photo
    Picture image;
    bool operator==(const Frame&) const = default;
  };

  struct Sampled {
    std::vector<Frame> frames;  // increasing time
    double duration = 0;        // seconds that could be read; 0 for a photo
    std::int64_t width = 0;     // display size in pixels, after rotation
    std::int64_t height = 0;
    bool operator==(const Sampled&) const = default;
  };

  // The longest side, in pixels, of every frame decoded to be embedded: the indexer's photos
  // and video frames, and a file that becomes an image query.
  static constexpr std::int64_t embedPixels = 384;

  struct VideoPlan {
    double step = 2.0;          // seconds between candidate frames
    double sceneChange = 14.0;  // difference at or above which a candidate is a new scene
    double softGap = 6.0;       // seconds after which a difference of 3.0 is enough
    double hardGap = 30.0;      // seconds after which a candidate is kept whatever it shows
    std::int64_t maxPixels = embedPixels;
    bool operator==(const VideoPlan&) const = default;
  };

  class Failure : public std::runtime_error {
   public:
    enum class Reason { unreadable, noVideoTrack, isProtected };
    explicit Failure(Reason reason);
    Reason reason() const { return reason_; }

   private:
    Reason reason_;
  };

  struct VideoInfo {
    double duration = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool operator==(const VideoInfo&) const = default;
  };

  // 16 x 9 pixels, 4 bytes a pixel (red, green, blue, unused), rows of 64 bytes.
  using Signature = std::vector<std::uint8_t>;
  static constexpr int signatureWidth = 16;
  static constexpr int signatureHeight = 9;

  // Where sampling picks a video up again: after the frame an earlier pass kept last, as if
  // that pass had just kept it.
  struct Resume {
    double after = 0;     // the time of that frame
    Signature signature;  // its scene signature (signatureAt)
    bool operator==(const Resume&) const = default;
  };

  // Keeps a candidate when the picture changed enough since the last kept frame, or when
  // enough time has passed. Comparison is always against the last kept frame.
  class Selector {
   public:
    explicit Selector(const VideoPlan& plan) : plan_(plan) {}
    // Picking up after the frame an earlier pass kept last.
    Selector(const VideoPlan& plan, const Resume& resume);
    enum class Verdict { repeated, dropped, kept };
    // A candidate delivered at time t with its signature.
    Verdict offer(double t, const Signature& signature);

   private:
    VideoPlan plan_;
    std::optional<Signature> previous_;
    double lastKept_ = -1e300;
    double lastExamined_ = -1e300;
  };

  // One upright picture at reduced size; the embedded thumbnail when big enough.
  static Sampled photo(const std::filesystem::path& filePath, std::int64_t maxPixels);
  // The same from the file's header, already read.
  static Sampled photo(const std::filesystem::path& filePath, const ImageCodec::Header& header,
                       std::int64_t maxPixels);

  // Scene-aware frames of a video, handed to onFrame one by one as they are kept, in
  // increasing time, so that memory does not grow with the video's length. isCancelled is
  // asked once per delivered candidate. Without resume, a video that gives no kept frame
  // hands over its frame at time 0, or fails unreadable; with it, only candidates after
  // resume->after are examined, and none may be kept. Returns the duration that could be
  // read and the display size. What onFrame throws ends the pass and passes through.
  static VideoInfo video(const std::filesystem::path& filePath, const VideoPlan& plan,
                         const std::function<bool()>& isCancelled,
                         const std::function<void(Frame&&)>& onFrame,
                         const std::optional<Resume>& resume = std::nullopt);
  // The same, every frame collected. A cancelled run returns what was kept so far.
  static Sampled video(const std::filesystem::path& filePath, const VideoPlan& plan,
                       const std::function<bool()>& isCancelled);
  // With the default plan, never cancelled.
  static Sampled video(const std::filesystem::path& filePath);

  static VideoInfo videoInfo(const std::filesystem::path& filePath);

  // Exact frames from max(around - span, 0) to around + span every step; never fails.
  static std::vector<Frame> frames(const std::filesystem::path& filePath, double around,
                                   double span, double step, std::int64_t maxPixels);
  // Exact frames at ascending times, each with its requested time; those that cannot be
  // made are left out. Never fails.
  static std::vector<Frame> frames(const std::filesystem::path& filePath,
                                   const std::vector<double>& times, std::int64_t maxPixels);
  // The times of the first frames overload: from max(around - span, 0) to around + span.
  static std::vector<double> stepTimes(double around, double span, double step);

  // JPEG (quality 62 of 100), longest side at most maxPixels, never enlarged.
  static std::optional<Bytes> thumbnailData(const Picture& image, std::int64_t maxPixels);

  // Mean absolute difference per colour channel, 0-255; 0 for empty input.
  static double difference(const Signature& a, const Signature& b);

  static Signature signature(const Picture& image);
  // The signature of the frame on screen at time, decoded exactly as video() decodes it;
  // nothing when that frame cannot be made.
  static std::optional<Signature> signatureAt(const std::filesystem::path& filePath, double time,
                                              std::int64_t maxPixels);

  // Whether two signatures show one scene: the sampler would not take the second for a
  // new scene after the first.
  static bool sameScene(const Signature& a, const Signature& b, const VideoPlan& plan);

  // The most candidate times one video gets (over 55 hours at a step of 2 s). A longer
  // duration, which is what damaged or hostile headers claim (years, in a few kilobytes),
  // spreads them evenly over it instead of asking for billions.
  static constexpr std::int64_t maxCandidates = 100000;

  // The step used for a video of this duration, and the candidate times it gives.
  static double candidateStep(double duration, const VideoPlan& plan);
  static std::vector<double> candidateTimes(double duration, const VideoPlan& plan);
};

}  // namespace quillmere
