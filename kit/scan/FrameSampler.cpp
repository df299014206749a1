// SPDX-License-Identifier: GPL-3.0-or-later
// Photos and videos turned into the pictures that get embedded, and their thumbnails.
#include "scan/FrameSampler.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "platform/ImageCodec.h"
#include "platform/VideoDecoder.h"

namespace quillmere {

namespace {

constexpr double moderateChange = 3.0;
constexpr double sameFrameSeconds = 0.01;
constexpr int thumbnailQuality = 62;  // the 0.62 of a 0-1 quality scale

const char* failureText(FrameSampler::Failure::Reason reason) {
  switch (reason) {
    case FrameSampler::Failure::Reason::unreadable:
      return "This file can't be read.";
    case FrameSampler::Failure::Reason::noVideoTrack:
      return "This file has no picture.";
    case FrameSampler::Failure::Reason::isProtected:
      return "This video is copy-protected.";
  }
  return "This file can't be read.";
}

int pixelLimit(std::int64_t maxPixels) {
  return static_cast<int>(std::clamp<std::int64_t>(maxPixels, 0, INT_MAX));
}

// Opens a video; bytes FFmpeg does not understand are an unreadable file, other errors
// (missing file, no permission) pass through with FFmpeg's description.
VideoDecoder open(const std::filesystem::path& filePath) {
  try {
    return VideoDecoder(filePath);
  } catch (const VideoDecoder::Error& error) {
    if (error.invalidData()) throw FrameSampler::Failure(FrameSampler::Failure::Reason::unreadable);
    throw;
  }
}

// A pass that ran out of packets well before the end the container claims read a cut or
// damaged file: the video lasts only as far as its frames could be read. Within a step of
// the claim it is the claim, so an intact file whose sound outlasts its picture a little
// keeps its length.
double readableDuration(double claimed, const VideoDecoder::Reach& reach, double step) {
  if (reach.ranOut && reach.end > 0 && reach.end + step < claimed) return reach.end;
  return claimed;
}

// The embedded thumbnail when it is as big as a decode would give, else a reduced decode.
std::optional<Picture> reducedPhoto(const std::filesystem::path& filePath,
                                    const ImageCodec::Header& header, std::int64_t longSide,
                                    int limit) {
  if (auto embedded = ImageCodec::embeddedThumbnail(filePath, header, limit)) {
    const std::int64_t got = std::max(embedded->width, embedded->height);
    if (longSide >= 256 ? got >= 256 : got >= longSide) return embedded;
  }
  return ImageCodec::thumbnail(filePath, limit);
}

}  // namespace

FrameSampler::Failure::Failure(Reason reason)
    : std::runtime_error(failureText(reason)), reason_(reason) {}

FrameSampler::Selector::Verdict FrameSampler::Selector::offer(double t,
                                                              const Signature& signature) {
  // The decoder handed over the same frame again.
  if (t <= lastExamined_ + sameFrameSeconds) return Verdict::repeated;
  lastExamined_ = t;
  bool keep = !previous_;
  if (!keep) {
    const double d = difference(*previous_, signature);
    const double gap = t - lastKept_;
    keep = d >= plan_.sceneChange || (d >= moderateChange && gap >= plan_.softGap) ||
           gap >= plan_.hardGap;
  }
  if (!keep) return Verdict::dropped;
  previous_ = signature;
  lastKept_ = t;
  return Verdict::kept;
}

FrameSampler::Selector::Selector(const VideoPlan& plan, const Resume& resume)
    : plan_(plan),
      previous_(resume.signature),
      lastKept_(resume.after),
      lastExamined_(resume.after) {}

FrameSampler::Sampled FrameSampler::photo(const std::filesystem::path& filePath,
                                          std::int64_t maxPixels) {
  const auto header = ImageCodec::header(filePath);
  if (!header) throw Failure(Failure::Reason::unreadable);
  return photo(filePath, *header, maxPixels);
}

FrameSampler::Sampled FrameSampler::photo(const std::filesystem::path& filePath,
                                          const ImageCodec::Header& header,
                                          std::int64_t maxPixels) {
  Sampled sampled;
  sampled.width = header.width;
  sampled.height = header.height;
  if (header.orientation > 4) std::swap(sampled.width, sampled.height);
  auto picture = reducedPhoto(filePath, header, std::max(sampled.width, sampled.height),
                              pixelLimit(maxPixels));
  if (!picture) throw Failure(Failure::Reason::unreadable);
  sampled.frames.emplace_back();
  sampled.frames.back().image = std::move(*picture);
  return sampled;
}

double FrameSampler::candidateStep(double duration, const VideoPlan& plan) {
  if (duration < 20) return std::max(plan.step * 0.5, 0.5);
  return std::max(plan.step, duration / static_cast<double>(maxCandidates));
}

std::vector<double> FrameSampler::candidateTimes(double duration, const VideoPlan& plan) {
  const double step = candidateStep(duration, plan);
  const double first = duration >= 1 ? 0.5 : duration / 2;
  std::vector<double> times;
  // Multiplying, not adding, keeps the times free of accumulated rounding.
  for (std::int64_t k = 0;; ++k) {
    const double t = first + static_cast<double>(k) * step;
    if (!(t < duration)) break;
    times.push_back(t);
  }
  if (times.empty()) times.push_back(0);
  return times;
}

FrameSampler::VideoInfo FrameSampler::video(const std::filesystem::path& filePath,
                                            const VideoPlan& plan,
                                            const std::function<bool()>& isCancelled,
                                            const std::function<void(Frame&&)>& onFrame,
                                            const std::optional<Resume>& resume) {
  VideoDecoder decoder = open(filePath);
  if (decoder.hasProtectedContent()) throw Failure(Failure::Reason::isProtected);
  const VideoDecoder::Info& info = decoder.info();
  if (!info.hasVideo) throw Failure(Failure::Reason::noVideoTrack);

  VideoInfo result{info.duration, info.width, info.height};
  const double step = candidateStep(info.duration, plan);
  const int limit = pixelLimit(plan.maxPixels);
  std::vector<double> times = candidateTimes(info.duration, plan);
  // A candidate at or before the resumed frame delivers frames already examined.
  if (resume) std::erase_if(times, [after = resume->after](double t) { return t <= after; });

  Selector selector = resume ? Selector(plan, *resume) : Selector(plan);
  std::int64_t kept = 0;
  const VideoDecoder::Reach reach =
      decoder.generate(times, step / 2, limit, [&](const VideoDecoder::Result& candidate) {
        if (isCancelled && isCancelled()) return false;
        if (!candidate.picture) return true;
        if (selector.offer(candidate.time, signature(*candidate.picture)) ==
            Selector::Verdict::kept) {
          ++kept;
          onFrame(Frame{candidate.time, *candidate.picture});
        }
        return true;
      });
  if (kept > 0 || resume) {
    result.duration = readableDuration(info.duration, reach, step);
    return result;
  }

  bool found = false;
  decoder.generate({0.0}, step / 2, limit, [&](const VideoDecoder::Result& first) {
    found = first.picture.has_value();
    if (found) onFrame(Frame{0, *first.picture});
    return false;
  });
  if (!found) throw Failure(Failure::Reason::unreadable);
  return result;
}

FrameSampler::Sampled FrameSampler::video(const std::filesystem::path& filePath,
                                          const VideoPlan& plan,
                                          const std::function<bool()>& isCancelled) {
  Sampled sampled;
  const VideoInfo info = video(filePath, plan, isCancelled, [&sampled](Frame&& frame) {
    sampled.frames.push_back(std::move(frame));
  });
  sampled.duration = info.duration;
  sampled.width = info.width;
  sampled.height = info.height;
  return sampled;
}

FrameSampler::Sampled FrameSampler::video(const std::filesystem::path& filePath) {
  return video(filePath, VideoPlan{}, {});
}

FrameSampler::VideoInfo FrameSampler::videoInfo(const std::filesystem::path& filePath) {
  VideoDecoder decoder = open(filePath);
  const VideoDecoder::Info& info = decoder.info();
  if (!info.hasVideo) throw Failure(Failure::Reason::noVideoTrack);
  return VideoInfo{info.duration, info.width, info.height};
}

std::vector<double> FrameSampler::stepTimes(double around, double span, double step) {
  std::vector<double> times;
  if (!(around + span >= 0) || !std::isfinite(around + span)) return times;
  const double first = std::max(around - span, 0.0);
  const double last = around + span;
  if (!(step > 0)) return {first};
  for (std::int64_t k = 0; k < maxCandidates; ++k) {
    const double t = first + static_cast<double>(k) * step;
    // Far out, a small step no longer moves the time: stop rather than repeat it.
    if (t > last + 1e-9 || (!times.empty() && t <= times.back())) break;
    times.push_back(t);
  }
  return times;
}

std::vector<FrameSampler::Frame> FrameSampler::frames(const std::filesystem::path& filePath,
                                                      double around, double span, double step,
                                                      std::int64_t maxPixels) {
  return frames(filePath, stepTimes(around, span, step), maxPixels);
}

std::vector<FrameSampler::Frame> FrameSampler::frames(const std::filesystem::path& filePath,
                                                      const std::vector<double>& times,
                                                      std::int64_t maxPixels) {
  std::vector<Frame> result;
  if (times.empty()) return result;
  try {
    VideoDecoder decoder(filePath);
    decoder.generate(times, 0, pixelLimit(maxPixels), [&](const VideoDecoder::Result& frame) {
      if (frame.picture) result.push_back(Frame{frame.requested, *frame.picture});
      return true;
    });
  } catch (const std::exception&) {
    // Display-only: what could be decoded, or nothing.
  }
  return result;
}

std::optional<Bytes> FrameSampler::thumbnailData(const Picture& image, std::int64_t maxPixels) {
  if (image.width <= 0 || image.height <= 0 || maxPixels <= 0) return std::nullopt;
  const double k = static_cast<double>(maxPixels) / std::max(image.width, image.height);
  if (k < 1) {
    const int width = std::max(1, static_cast<int>(std::floor(k * image.width)));
    const int height = std::max(1, static_cast<int>(std::floor(k * image.height)));
    if (auto reduced = ImageCodec::resize(image, width, height))
      return ImageCodec::encodeJpeg(*reduced, thumbnailQuality);
  }
  return ImageCodec::encodeJpeg(image, thumbnailQuality);
}

double FrameSampler::difference(const Signature& a, const Signature& b) {
  const std::size_t n = std::min(a.size(), b.size());
  double sum = 0;
  std::size_t count = 0;
  for (std::size_t i = 0; i < n; i += 4) {
    // A partial last pixel still has its colour bytes compared.
    for (std::size_t c = 0; c < 3 && i + c < n; ++c) {
      sum += std::abs(static_cast<int>(a[i + c]) - static_cast<int>(b[i + c]));
      ++count;
    }
  }
  return count == 0 ? 0 : sum / static_cast<double>(count);
}

std::optional<FrameSampler::Signature> FrameSampler::signatureAt(
    const std::filesystem::path& filePath, double time, std::int64_t maxPixels) {
  const std::vector<Frame> found = frames(filePath, std::vector<double>{time}, maxPixels);
  if (found.empty()) return std::nullopt;
  return signature(found.front().image);
}

bool FrameSampler::sameScene(const Signature& a, const Signature& b, const VideoPlan& plan) {
  return difference(a, b) < plan.sceneChange;
}

FrameSampler::Signature FrameSampler::signature(const Picture& image) {
  Signature result(signatureWidth * signatureHeight * 4, 0);
  const std::size_t expected = static_cast<std::size_t>(image.width) * image.height * 3;
  if (image.width <= 0 || image.height <= 0 || image.rgb.size() != expected) return result;
  // Low-quality drawing: one bilinear sample at the centre of each signature pixel.
  for (int y = 0; y < signatureHeight; ++y) {
    const double sy =
        std::clamp((y + 0.5) * image.height / signatureHeight - 0.5, 0.0, image.height - 1.0);
    const int y0 = static_cast<int>(sy), y1 = std::min(y0 + 1, image.height - 1);
    const double fy = sy - y0;
    for (int x = 0; x < signatureWidth; ++x) {
      const double sx =
          std::clamp((x + 0.5) * image.width / signatureWidth - 0.5, 0.0, image.width - 1.0);
      const int x0 = static_cast<int>(sx), x1 = std::min(x0 + 1, image.width - 1);
      const double fx = sx - x0;
      auto at = [&](int px, int py, int c) {
        return static_cast<double>(
            image.rgb[(static_cast<std::size_t>(py) * image.width + px) * 3 + c]);
      };
      for (int c = 0; c < 3; ++c) {
        const double top = at(x0, y0, c) * (1 - fx) + at(x1, y0, c) * fx;
        const double bottom = at(x0, y1, c) * (1 - fx) + at(x1, y1, c) * fx;
        result[(y * signatureWidth + x) * 4 + c] =
            static_cast<std::uint8_t>(std::lround(top * (1 - fy) + bottom * fy));
      }
    }
  }
  return result;
}

}  // namespace quillmere
