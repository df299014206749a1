// SPDX-License-Identifier: GPL-3.0-or-later
// Image queries from stored frames, or from a file decoded and embedded.
#include "search/MoreLikeThis.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <span>
#include <utility>

#include "core/Float16.h"
#include "index/FolderRules.h"
#include "index/Library.h"
#include "model/Embedder.h"
#include "platform/ImageCodec.h"
#include "scan/FrameSampler.h"
#include "scan/Scanner.h"
#include "scan/Timecode.h"

namespace quillmere {
namespace {

// The picture a file not in the library stands for, with the time of a video's frame.
std::optional<std::pair<FrameSampler::Frame, MediaKind>> decoded(const std::filesystem::path& path,
                                                                 std::optional<double> seconds) {
  try {
    if (Scanner::kind(path) == MediaKind::video) {
      const double time = seconds.value_or(FrameSampler::videoInfo(path).duration / 2);
      auto frames =
          FrameSampler::frames(path, std::vector<double>{time}, FrameSampler::embedPixels);
      if (frames.empty()) return std::nullopt;
      return std::pair(std::move(frames.front()), MediaKind::video);
    }
    auto sampled = FrameSampler::photo(path, FrameSampler::embedPixels);
    if (sampled.frames.empty()) return std::nullopt;
    return std::pair(std::move(sampled.frames.front()), MediaKind::photo);
  } catch (const std::exception&) {
    return std::nullopt;  // FrameSampler's failures, and the file system's
  }
}

ImageCodec::Rect pixels(const std::filesystem::path& path, const PictureRegion& region, int width,
                        int height) {
  const auto rect = region.pixels(width, height);
  if (!rect) throw MoreLikeThis::TooSmall(path);
  return *rect;
}

// The region's pixels of the photo, or of the video's frame, reduced for embedding; the
// frame's time.
std::optional<FrameSampler::Frame> decodedRegion(const std::filesystem::path& path,
                                                 std::optional<double> seconds,
                                                 const PictureRegion& region) {
  const auto limit = static_cast<int>(FrameSampler::embedPixels);
  try {
    if (Scanner::kind(path) == MediaKind::video) {
      const auto info = FrameSampler::videoInfo(path);
      const double time = seconds.value_or(info.duration / 2);
      auto frames =
          FrameSampler::frames(path, std::vector<double>{time}, std::max(info.width, info.height));
      if (frames.empty()) return std::nullopt;
      const Picture& full = frames.front().image;
      auto cut = ImageCodec::region(full, pixels(path, region, full.width, full.height), limit);
      if (!cut) return std::nullopt;
      return FrameSampler::Frame{time, std::move(*cut)};
    }
    const auto header = ImageCodec::header(path);
    if (!header) return std::nullopt;
    const bool turned = header->orientation > 4;
    const auto rect = pixels(path, region, turned ? header->height : header->width,
                             turned ? header->width : header->height);
    auto cut = ImageCodec::region(path, *header, rect, limit);
    if (!cut) return std::nullopt;
    return FrameSampler::Frame{0, std::move(*cut)};
  } catch (const MoreLikeThis::Unreadable&) {
    throw;
  } catch (const std::exception&) {
    return std::nullopt;  // FrameSampler's failures, and the file system's
  }
}

MoreLikeThis::Unreadable unreadable(const std::filesystem::path& path) {
  return MoreLikeThis::Unreadable(path);
}

// The query of a picture decoded from path: its vector, named after the file at `time`.
MoreLikeThis::ImageQuery embedded(Embedder& embedder, const std::filesystem::path& path,
                                  const FrameSampler::Frame& picture, MediaKind kind) {
  const auto vectors = embedder.embed(std::span<const Picture>(&picture.image, 1));
  if (vectors.empty()) throw unreadable(path);
  MediaFile file;
  file.relPath = path.filename().string();
  file.kind = kind;
  return {MoreLikeThis::name(file, picture.time), floatsFromHalves(vectors.front())};
}

}  // namespace

MoreLikeThis::ImageQuery MoreLikeThis::region(Embedder& embedder, const std::filesystem::path& path,
                                              std::optional<double> seconds,
                                              const PictureRegion& region) {
  if (const auto fault = region.fault(); fault != PictureRegion::Fault::none)
    throw Unreadable(path, fault);
  const auto cut = decodedRegion(path, seconds, region);
  if (!cut) throw unreadable(path);
  const auto kind = Scanner::kind(path) == MediaKind::video ? MediaKind::video : MediaKind::photo;
  auto query = embedded(embedder, path, *cut, kind);
  query.name += " (region)";
  query.thumbnail = FrameSampler::thumbnailData(cut->image, thumbnailPixels).value_or(Bytes{});
  return query;
}

MoreLikeThis::ImageQuery MoreLikeThis::file(const Library& library, Embedder& embedder,
                                            const std::filesystem::path& path,
                                            std::optional<double> seconds) {
  if (const auto stored = FolderRules::storedFile(library, path)) {
    const double time =
        seconds.value_or(stored->kind == MediaKind::video ? stored->duration / 2 : 0);
    if (auto query = nearest(library, *stored, time)) return std::move(*query);
  }
  auto picture = decoded(path, seconds);
  if (!picture) throw unreadable(path);
  return embedded(embedder, path, picture->first, picture->second);
}

std::optional<MoreLikeThis::ImageQuery> MoreLikeThis::frame(const Library& library,
                                                            const MediaFile& file,
                                                            std::int64_t frameID, double time) {
  for (const auto& [row, vector] : library.vectors().vectors(file.id)) {
    if (row.frameID == frameID) return ImageQuery{name(file, time), floatsFromHalves(vector)};
  }
  return std::nullopt;
}

std::optional<MoreLikeThis::ImageQuery> MoreLikeThis::nearest(const Library& library,
                                                              const MediaFile& file,
                                                              double seconds) {
  const auto frames = library.vectors().vectors(file.id);
  if (frames.empty()) return std::nullopt;
  const auto* best = &frames.front();
  for (const auto& frame : frames) {
    if (std::abs(frame.first.time - seconds) < std::abs(best->first.time - seconds)) best = &frame;
  }
  return ImageQuery{name(file, best->first.time), floatsFromHalves(best->second)};
}

std::string MoreLikeThis::name(const MediaFile& file, double time) {
  if (file.kind != MediaKind::video) return file.name();
  return file.name() + " at " + shortTimecode(time);
}

}  // namespace quillmere
