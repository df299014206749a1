// SPDX-License-Identifier: GPL-3.0-or-later
// "More Like This": a stored frame's vector becomes the query, so the search needs no model
// run and finds what the library itself saw; a file the library does not hold is decoded as
// the indexer decodes frames and embedded. Both front ends build image queries here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Records.h"
#include "search/PictureRegion.h"

namespace quillmere {

class Embedder;
class Library;

class MoreLikeThis {
 public:
  // A picture standing in for a typed query.
  struct ImageQuery {
    std::string name;           // shown in place of the text
    std::vector<float> vector;  // unit length, the library's width
    Bytes thumbnail;            // a region's JPEG (thumbnailPixels), to show what was cut
    bool operator==(const ImageQuery&) const = default;
  };

  // A file that could be read neither as a photo nor as a video, or a region with a fault;
  // the front ends word it. what() is the file's path.
  class Unreadable : public std::runtime_error {
   public:
    explicit Unreadable(const std::filesystem::path& path,
                        PictureRegion::Fault fault = PictureRegion::Fault::none)
        : std::runtime_error(path.string()), fault_(fault) {}
    // The region's fault, or none when the file could not be read.
    PictureRegion::Fault fault() const { return fault_; }

   private:
    PictureRegion::Fault fault_;
  };

  // A region that covers no whole pixel of its picture.
  class TooSmall : public Unreadable {
   public:
    using Unreadable::Unreadable;
  };

  // The longest side of a region's thumbnail.
  static constexpr std::int64_t thumbnailPixels = 96;

  MoreLikeThis() = delete;

  // The query a file on disk stands for. A file the library holds gives its stored frame
  // nearest `seconds` (a video without a time: nearest its middle), with no model run. Any
  // other file is decoded as the indexer decodes frames (FrameSampler::embedPixels; a video
  // at `seconds`, else its middle frame) and embedded. Throws Unreadable.
  static ImageQuery file(const Library& library, Embedder& embedder,
                         const std::filesystem::path& path, std::optional<double> seconds);

  // The query a region of a file stands for: the photo (orientation applied) or the video's
  // frame at `seconds` (else its middle) is decoded at full size, the region's pixels
  // (PictureRegion::pixels) cut out, reduced as file() reduces a whole picture, and embedded.
  // Named as file() names it, followed by " (region)", with a thumbnail of the part. Throws
  // Unreadable, also for a region with a fault, and TooSmall.
  static ImageQuery region(Embedder& embedder, const std::filesystem::path& path,
                           std::optional<double> seconds, const PictureRegion& region);

  // The query of the file's stored frame `frameID`; nothing when that frame is no longer
  // in the index.
  static std::optional<ImageQuery> frame(const Library& library, const MediaFile& file,
                                         std::int64_t frameID, double time);
  // The query of the file's stored frame nearest `seconds`; nothing when it has no frame.
  static std::optional<ImageQuery> nearest(const Library& library, const MediaFile& file,
                                           double seconds);
  // The file's name; for a video followed by " at " and the short time code ("clip.mov at
  // 1:05").
  static std::string name(const MediaFile& file, double time);
};

}  // namespace quillmere
