// SPDX-License-Identifier: GPL-3.0-or-later
// text: what was read in a photo, or in a video's stored frames.
#include <cstdio>
#include <filesystem>

#include "Commands.h"
#include "Output.h"
#include "index/FolderRules.h"
#include "index/FrameText.h"
#include "index/Library.h"
#include "scan/Timecode.h"

namespace quillmere {
namespace {

using CommandLine::parseSeconds;
using Output::printable;

// at: the one frame asked for.
void printPictures(const std::vector<FrameText>& pictures, const MediaFile& file,
                   const std::string& path, std::optional<double> at, bool json) {
  const bool video = file.kind == MediaKind::video;
  if (json) {
    auto list = nlohmann::json::array();
    for (const FrameText& picture : pictures) {
      list.push_back({{"time", picture.time},
                      {"timecode", timecode(picture.time)},
                      {"capped", picture.text.capped},
                      {"lines", Output::textLines(picture.text.lines)}});
    }
    nlohmann::json document = {{"kind", Output::kindName(file.kind)}, {"pictures", list}};
    Output::putPath(document, "path", path);
    std::printf("%s\n",
                document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return;
  }
  std::size_t lines = 0;
  for (const FrameText& picture : pictures) {
    for (const TextLine& line : picture.text.lines) {
      const std::string when = video ? timecode(picture.time) + "  " : "";
      std::printf("%s%s\n", when.c_str(), printable(line.text).c_str());
      ++lines;
    }
    if (picture.text.capped) {
      std::fprintf(stderr, "%s%s held more text than is read; the rest was left out.\n",
                   printable(path).c_str(), video ? (" at " + timecode(picture.time)).c_str() : "");
    }
  }
  if (lines > 0) return;
  const std::string when = at && video ? " at " + timecode(*at) : "";
  std::fprintf(stderr, "No text was read in %s%s.\n", printable(path).c_str(), when.c_str());
}

}  // namespace

int Commands::text(const Options& options) {
  const std::string& operand = options.operands.front();
  std::filesystem::path path = operand;
  std::optional<double> seconds;
  std::optional<MediaFile> file = FolderRules::storedFile(*library_, path);
  if (const auto at = operand.rfind('@'); !file && at != std::string::npos) {
    seconds = parseSeconds(operand.substr(at + 1));
    if (!seconds) throw Error("'" + operand + "': the time after @ must be seconds, like 12.5", 2);
    path = operand.substr(0, at);
    file = FolderRules::storedFile(*library_, path);
  }
  if (!file) {
    throw Error("Not in the library: " + printable(path.string()) +
                " (see 'quillmere-cli folders')");
  }
  if (!library_->stageDone(file->id, Library::textStage)) {
    throw Error("The text in " + printable(path.string()) +
                " has not been read yet: 'quillmere-cli index' reads it.");
  }
  std::vector<FrameText> pictures = FrameText::ofFile(*library_, file->id);
  // At a second: the stored frame nearest it, which holds no row when no text was found in it.
  std::optional<double> at;
  if (seconds) at = FrameText::nearestFrame(*library_, file->id, *seconds);
  if (at) std::erase_if(pictures, [&](const FrameText& picture) { return picture.time != *at; });
  printPictures(pictures, *file, location(*file).string(), at, options.json);
  return 0;
}

}  // namespace quillmere
