// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/MoreLikeThis.h"

#include <cmath>

#include "core/Float16.h"
#include "index/Library.h"
#include "scan/Timecode.h"

namespace quillmere {

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
