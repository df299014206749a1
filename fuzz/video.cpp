// SPDX-License-Identifier: GPL-3.0-or-later
// The FFmpeg-backed readers on arbitrary bytes under a video extension (chosen by the first
// byte): the marker export's probe, the media probe, FrameSampler.videoInfo, .video and
// .frames. None may crash, leak or run away; what they return must be well-formed.
#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "FuzzSupport.h"
#include "export/MarkerExport.h"
#include "platform/MediaProbe.h"
#include "platform/VideoDecoder.h"
#include "scan/FrameSampler.h"

using namespace quillmere;

namespace {

constexpr std::array<const char*, 8> extensions = {"mp4", "mov",  "mkv", "avi",
                                                   "mts", "webm", "flv", "mpg"};

void checkPicture(const Picture& picture, std::int64_t maxPixels) {
  fuzz::require(picture.width > 0 && picture.height > 0, "an empty frame");
  fuzz::require(std::max(picture.width, picture.height) <= maxPixels, "a frame over the limit");
  fuzz::require(picture.rgb.size() == static_cast<std::size_t>(picture.width) * picture.height * 3,
                "frame bytes do not match its size");
}

void checkMedia(const std::filesystem::path& path) {
  const MarkerExport::Media media = MarkerExport::media(path);
  fuzz::require(media.rate.num > 0 && media.rate.den > 0, "a probed rate that is not positive");
  fuzz::require(media.width > 0 && media.height > 0, "a probed size that is not positive");
  fuzz::require(std::isfinite(media.duration) && media.duration >= 0, "a probed duration");
  const MediaProbe::Info info = MediaProbe::read(path);
  fuzz::require(!info.duration || std::isfinite(*info.duration), "a probe duration");
  fuzz::require(info.tracksLoaded || !info.video, "a video track without tracks");
}

// Failures a damaged video may end in; anything else escaping is a fault.
template <typename Body>
bool survives(Body body) {
  try {
    body();
    return true;
  } catch (const FrameSampler::Failure&) {
  } catch (const VideoDecoder::Error& error) {
    // File-system errors pass through; the scratch file exists, so only memory can run out.
    fuzz::require(!error.invalidData(), "an invalid-data error escaped the sampler");
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::ScratchFiles scratch;
  if (size < 1) return 0;
  const char* extension = extensions[data[0] % extensions.size()];
  const auto& path = scratch.write(extension, data + 1, size - 1);

  checkMedia(path);

  FrameSampler::VideoInfo info;
  const bool hasInfo = survives([&] { info = FrameSampler::videoInfo(path); });
  if (hasInfo) {
    fuzz::require(std::isfinite(info.duration) && info.duration >= 0, "a video duration");
    fuzz::require(info.width >= 0 && info.height >= 0, "a negative video size");
  }

  const FrameSampler::VideoPlan plan;
  FrameSampler::Sampled sampled;
  if (survives([&] { sampled = FrameSampler::video(path, plan, {}); })) {
    fuzz::require(hasInfo, "frames from a video whose information could not be read");
    // A file cut short lasts as far as its frames could be read, never longer than claimed.
    fuzz::require(std::isfinite(sampled.duration) && sampled.duration >= 0 &&
                      sampled.duration <= info.duration && sampled.width == info.width &&
                      sampled.height == info.height,
                  "video and videoInfo disagree");
    fuzz::require(!sampled.frames.empty(), "a sampled video without frames");
    for (std::size_t i = 0; i < sampled.frames.size(); ++i) {
      checkPicture(sampled.frames[i].image, plan.maxPixels);
      fuzz::require(std::isfinite(sampled.frames[i].time), "a frame time that is not finite");
      if (i > 0)
        fuzz::require(sampled.frames[i].time > sampled.frames[i - 1].time, "frames out of order");
    }
  }

  // The search's refinement around a moment: never fails, whatever the file.
  const double around = hasInfo ? info.duration / 2 : 1.0;
  for (const FrameSampler::Frame& frame : FrameSampler::frames(path, around, 1.5, 0.2, 96))
    checkPicture(frame.image, 96);
  return 0;
}
