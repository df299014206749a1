// SPDX-License-Identifier: GPL-3.0-or-later
#include "index/FrameText.h"

#include <algorithm>
#include <cmath>

#include "index/Library.h"

namespace quillmere {

std::vector<FrameText> FrameText::ofFile(Library& library, std::int64_t fileID) {
  std::vector<FrameText> pictures;
  for (const Library::StageRow& row : library.stageRows(fileID, Library::textStage))
    pictures.push_back({row.time, PictureText::decoded(row.data)});
  return pictures;
}

std::optional<double> FrameText::nearestFrame(Library& library, std::int64_t fileID,
                                              double seconds) {
  const std::vector<double> times = library.frameTimes(fileID);
  if (times.empty()) return std::nullopt;
  return *std::min_element(times.begin(), times.end(), [&](double a, double b) {
    return std::abs(a - seconds) < std::abs(b - seconds);
  });
}

FrameText FrameText::near(Library& library, std::int64_t fileID, double seconds) {
  const auto at = nearestFrame(library, fileID, seconds);
  if (!at) return {};
  // A frame in which nothing was found holds no row.
  for (FrameText& picture : ofFile(library, fileID)) {
    if (picture.time == *at) return picture;
  }
  return {.time = *at};
}

}  // namespace quillmere
