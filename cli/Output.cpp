// SPDX-License-Identifier: GPL-3.0-or-later
#include "Output.h"

#include <cstdio>

#include "Commands.h"
#include "core/Utf8.h"
#include "export/MarkerExport.h"
#include "scan/Timecode.h"

namespace quillmere {
namespace Output {

const char* kindName(MediaKind kind) {
  return kind == MediaKind::video ? "video" : "photo";
}

// "1 file", "2 files".
std::string counted(std::int64_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// A path under key. JSON text is Unicode, so a path that is not valid UTF-8 shows there with
// U+FFFD and comes whole under key + "_url" as its file URL, every other byte percent-encoded.
void putPath(nlohmann::json& object, const std::string& key, const std::string& path) {
  object[key] = path;
  if (!Utf8::isValid(path)) object[key + "_url"] = MarkerExport::fileURL(path);
}

std::string printable(std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  auto escape = [&](std::string_view bytes) {
    for (const char byte : bytes) {
      const auto c = static_cast<unsigned char>(byte);
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 0xF];
    }
  };
  for (std::size_t offset = 0; offset < text.size();) {
    const Utf8::Piece piece = Utf8::next(text, offset);
    const char32_t c = piece.character;
    if (!piece.wellFormed || ((c < 0x20 || c == 0x7F) && c != '\n' && c != '\t' && c != '\r')) {
      escape(piece.bytes);
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += piece.bytes;
    }
  }
  return out;
}

nlohmann::json textLines(const std::vector<TextLine>& lines) {
  auto list = nlohmann::json::array();
  for (const TextLine& line : lines) {
    auto box = nlohmann::json::array();
    for (const TextLine::Point& point : line.box) box.push_back({point.x, point.y});
    list.push_back({{"text", line.text}, {"box", box}, {"confidence", line.confidence}});
  }
  return list;
}

}  // namespace Output

using Output::kindName;
using Output::printable;
using Output::putPath;

void Commands::print(const std::string& query, const std::vector<SearchResult>& results,
                     const SearchOptions& options) const {
  if (options.json) {
    auto list = nlohmann::json::array();
    for (const auto& result : results) {
      const CaptureTime taken = result.file.captureTime();
      nlohmann::json entry = {{"kind", kindName(result.file.kind)},
                              {"time", result.time},
                              {"timecode", timecode(result.time)},
                              {"score", result.score},
                              {"probability", result.probability},
                              {"file_id", result.file.id},
                              {"frame_id", result.frameID},
                              {"taken", taken.iso()},
                              {"taken_source", CaptureTime::name(taken.source)}};
      putPath(entry, "path", location(result.file).string());
      if (result.foundByText()) {
        entry["text"] = {{"share", result.foundText.share},
                         {"lines", Output::textLines(result.foundText.lines)}};
      }
      list.push_back(std::move(entry));
    }
    nlohmann::json document = {{"query", query}, {"results", list}};
    if (options.minProbability) document["likely_matches"] = results.size();
    std::printf("%s\n",
                document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return;
  }
  if (options.minProbability) {
    std::fprintf(stderr, "%zu likely match%s\n", results.size(), results.size() == 1 ? "" : "es");
  } else if (results.empty()) {
    std::fprintf(stderr, "No moments found for '%s'.\n", query.c_str());
  }
  for (const auto& result : results) {
    // Score, probability, the day it was taken, then the path (with the time code for a
    // video), as copied.
    std::string where = printable(location(result.file).string());
    if (result.file.kind == MediaKind::video) where += " " + timecode(result.time);
    const std::string day = result.file.captureTime().iso().substr(0, 10);
    std::printf("%.4f  %3.0f%%  %s  %s\n", result.score, result.probability * 100.0, day.c_str(),
                where.c_str());
    // Found by its text: the lines that hold the query's words, under it.
    for (const TextLine& line : result.foundText.lines)
      std::printf("      text: %s\n", printable(line.text).c_str());
  }
}

}  // namespace quillmere
