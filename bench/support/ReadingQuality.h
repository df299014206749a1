// SPDX-License-Identifier: GPL-3.0-or-later
// Reading as a user meets it: pictures with known words, a few PDF pages and a slideshow
// video indexed into a library with reading on, then the words searched for.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/Picture.h"

namespace quillmere::bench {

struct WordedPicture {
  Picture picture;
  std::vector<std::string> lines;  // what is written on it, level lines only
};

// Prints the PDF pages' word recall, how often a line's words find its picture first, and
// whether each slide's words open the video inside that slide; ends with "ratio" lines.
void printReadingQuality(const std::vector<WordedPicture>& pictures,
                         const std::filesystem::path& textModel);

}  // namespace quillmere::bench
