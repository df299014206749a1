// SPDX-License-Identifier: GPL-3.0-or-later
// FCPXML and CSV documents of found video moments, with what each media file says of itself.
#include "export/MarkerExport.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "core/Utf8.h"
#include "platform/MediaProbe.h"
#include "scan/Timecode.h"

namespace quillmere {

namespace {

struct StandardRate {
  double fps;
  MarkerExport::Rate rate;
};

// In the order they are tried: on a tie the earlier, lower rate wins.
constexpr std::array<StandardRate, 8> standardRates{{
    {23.976, {1001, 24000}},
    {24, {1, 24}},
    {25, {1, 25}},
    {29.97, {1001, 30000}},
    {30, {1, 30}},
    {50, {1, 50}},
    {59.94, {1001, 60000}},
    {60, {1, 60}},
}};

// Keeps frame counts and their products far from the ends of a 64-bit integer.
constexpr double largestCount = 4.0e18;

// Rounded half away from zero; NaN gives 0, huge values saturate.
std::int64_t roundedCount(double value) {
  if (std::isnan(value)) return 0;
  const double rounded = std::round(value);
  if (rounded >= largestCount) return static_cast<std::int64_t>(largestCount);
  if (rounded <= -largestCount) return -static_cast<std::int64_t>(largestCount);
  return static_cast<std::int64_t>(rounded);
}

void appendFixed(std::string& out, double value, int precision) {
  char text[400];
  const auto result =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, precision);
  if (result.ec == std::errc()) out.append(text, result.ptr);
}

// Walks text as UTF-8, handing every character (U+FFFD for each ill-formed piece) and its
// original bytes (none for an ill-formed piece) to `emit`.
template <typename Emit>
void eachCharacter(std::string_view text, Emit emit) {
  for (std::size_t offset = 0; offset < text.size();) {
    const Utf8::Piece piece = Utf8::next(text, offset);
    emit(piece.character, piece.wellFormed ? piece.bytes : std::string_view());
  }
}

// Characters an XML 1.0 document cannot hold at all, not even as a reference.
bool outsideXML(char32_t c) {
  if (c < 0x20) return c != '\t' && c != '\n' && c != '\r';
  return c == 0xFFFE || c == 0xFFFF;
}

std::string csvField(const std::string& text) {
  std::string out = "\"";
  eachCharacter(text, [&](char32_t c, std::string_view original) {
    if (c == '"') {
      out += "\"\"";
    } else if (c == 0 || original.empty()) {
      out += Utf8::replacement;
    } else {
      out += original;
    }
  });
  out += '"';
  return out;
}

std::string key(const std::filesystem::path& filePath) {
  return filePath.native();
}

std::string name(const std::filesystem::path& filePath) {
  return MarkerExport::escaped(filePath.stem().string());
}

std::string resourceID(int number) {
  return "r" + std::to_string(number);
}

std::string frameDuration(const MarkerExport::Rate& rate) {
  return std::to_string(rate.num) + "/" + std::to_string(rate.den) + "s";
}

std::string formatLine(const std::string& id, const MarkerExport::Media& media) {
  return "    <format id=\"" + id + "\" frameDuration=\"" + frameDuration(media.rate) +
         "\" width=\"" + std::to_string(media.width) + "\" height=\"" +
         std::to_string(media.height) + "\"/>\n";
}

std::string formatKey(const MarkerExport::Media& media) {
  return std::to_string(media.rate.num) + "/" + std::to_string(media.rate.den) + "-" +
         std::to_string(media.width) + "x" + std::to_string(media.height);
}

}  // namespace

MarkerExport::Rate MarkerExport::Rate::from(double fps) {
  const StandardRate* closest = &standardRates.front();
  for (const StandardRate& standard : standardRates) {
    if (std::abs(standard.fps - fps) < std::abs(closest->fps - fps)) closest = &standard;
  }
  if (std::abs(closest->fps - fps) < 0.05) return closest->rate;
  const std::int64_t whole = roundedCount(fps);
  return {1, whole < 2 ? 1 : whole};
}

std::string MarkerExport::Rate::time(double seconds) const {
  if (num <= 0 || den <= 0) return "0s";
  return frames(roundedCount(seconds * static_cast<double>(den) / static_cast<double>(num)));
}

std::string MarkerExport::Rate::frames(std::int64_t count) const {
  if (num <= 0 || den <= 0 || count == 0) return "0s";
  // A product past 64 bits would print garbage; saturate instead.
  const std::int64_t limit = std::numeric_limits<std::int64_t>::max() / num;
  const std::int64_t value = std::clamp(count, -limit, limit) * num;
  return std::to_string(value) + "/" + std::to_string(den) + "s";
}

MarkerExport::Media MarkerExport::media(const std::filesystem::path& filePath) {
  const MediaProbe::Info info = MediaProbe::read(filePath);
  Media media;
  media.duration = info.duration.value_or(0);
  media.hasAudio = info.hasAudio;
  if (!info.tracksLoaded || !info.video) return media;
  const MediaProbe::VideoTrack& track = *info.video;
  if (track.width <= 0 || track.height <= 0) return media;
  // Size of the rectangle (0, 0, width, height) after the display transform.
  const auto [a, b, c, d] = track.transform;
  const double width = std::abs(a) * track.width + std::abs(c) * track.height;
  const double height = std::abs(b) * track.width + std::abs(d) * track.height;
  if (width >= 1 && height >= 1 && width < 1e6 && height < 1e6) {
    media.width = static_cast<int>(width);
    media.height = static_cast<int>(height);
  } else {
    // A degenerate matrix says nothing about the picture; keep its stored size.
    media.width = track.width;
    media.height = track.height;
  }
  media.rate = track.frameRate > 0 ? Rate::from(track.frameRate) : Rate{1, 30};
  return media;
}

std::string MarkerExport::fcpxml(const std::vector<Moment>& moments, const std::string& title,
                                 double handles) {
  std::map<std::filesystem::path, Media> probed;
  for (const Moment& moment : moments) {
    if (!probed.contains(moment.path)) probed.emplace(moment.path, media(moment.path));
  }
  return fcpxml(moments, title, handles, probed);
}

std::string MarkerExport::fcpxml(const std::vector<Moment>& moments, const std::string& title,
                                 double handles,
                                 const std::map<std::filesystem::path, Media>& media) {
  // Files are told apart by their path text, and sorted by it as plain strings.
  std::map<std::string, Media> byPath;
  std::map<std::string, std::filesystem::path> urls;
  for (const Moment& moment : moments) {
    const std::string path = key(moment.path);
    if (byPath.contains(path)) continue;
    const auto found = media.find(moment.path);
    byPath.emplace(path, found == media.end() ? Media{} : found->second);
    urls.emplace(path, moment.path);
  }

  int counter = 1;
  std::string formats;
  std::map<std::string, std::string> formatIDs;    // by format key
  std::map<std::string, std::string> fileFormats;  // by path
  for (const auto& [path, fileMedia] : byPath) {
    const std::string formatKeyText = formatKey(fileMedia);
    auto found = formatIDs.find(formatKeyText);
    if (found == formatIDs.end()) {
      const std::string id = resourceID(counter++);
      found = formatIDs.emplace(formatKeyText, id).first;
      formats += formatLine(id, fileMedia);
    }
    fileFormats.emplace(path, found->second);
  }
  if (moments.empty()) {
    // The sequence names format r1, so an empty timeline still carries one.
    formats += formatLine(resourceID(counter++), Media{});
  }

  std::string assets;
  std::map<std::string, std::string> assetIDs;  // by path
  for (const auto& [path, fileMedia] : byPath) {
    const std::string id = resourceID(counter++);
    assetIDs.emplace(path, id);
    const std::filesystem::path& filePath = urls.at(path);
    assets += "    <asset id=\"" + id + "\" name=\"" + name(filePath) +
              "\" start=\"0s\" duration=\"" + fileMedia.rate.time(fileMedia.duration) +
              "\" hasVideo=\"1\" hasAudio=\"" + (fileMedia.hasAudio ? "1" : "0") + "\" format=\"" +
              fileFormats.at(path) + "\">\n";
    assets +=
        "      <media-rep kind=\"original-media\" src=\"" + escaped(fileURL(filePath)) + "\"/>\n";
    assets += "    </asset>\n";
  }

  Rate sequenceRate{1, 30};
  std::string sequenceFormat = "r1";
  if (!moments.empty()) {
    const std::string first = key(moments.front().path);
    sequenceRate = byPath.at(first).rate;
    sequenceFormat = fileFormats.at(first);
  }

  // Offsets and durations count the sequence's frames, whatever each file's own rate: a
  // clip measured in its file's frames would end between two frames of the sequence and
  // overlap the next.
  std::string clips;
  std::int64_t offset = 0;
  for (const Moment& moment : moments) {
    const std::string path = key(moment.path);
    const Media& fileMedia = byPath.at(path);
    const Rate rate = fileMedia.rate;
    const double t = moment.time;
    const double start = std::max(t - handles, 0.0);
    const double mediaEnd = fileMedia.duration > 0 ? fileMedia.duration : t + handles;
    const double wantedEnd = t + std::max(handles, moment.duration);
    const double oneFrame = static_cast<double>(rate.num) / static_cast<double>(rate.den);
    const double length = std::max(std::min(mediaEnd, wantedEnd) - start, oneFrame);
    const std::int64_t frames =
        std::max<std::int64_t>(roundedCount(length * sequenceRate.fps()), 1);
    const std::string clipName = name(moment.path);
    clips += "            <asset-clip ref=\"" + assetIDs.at(path) + "\" name=\"" + clipName +
             "\" offset=\"" + sequenceRate.frames(offset) + "\" start=\"" + rate.time(start) +
             "\" duration=\"" + sequenceRate.frames(frames) + "\" tcFormat=\"NDF\">\n";
    clips += "              <marker start=\"" + rate.time(t) + "\" duration=\"" +
             frameDuration(rate) + "\" value=\"" + escaped(moment.label) + "\"/>\n";
    clips += "            </asset-clip>\n";
    // Both are at most largestCount, so the sum cannot overflow before it is capped.
    offset = std::min(offset + frames, static_cast<std::int64_t>(largestCount));
  }

  const std::string escapedTitle = escaped(title);
  std::string out;
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<!DOCTYPE fcpxml>\n";
  out += "<fcpxml version=\"1.9\">\n";
  out += "  <resources>\n";
  out += formats;
  out += assets;
  out += "  </resources>\n";
  out += "  <library>\n";
  out += "    <event name=\"" + escapedTitle + "\">\n";
  out += "      <project name=\"" + escapedTitle + "\">\n";
  out += "        <sequence format=\"" + sequenceFormat + "\" duration=\"" +
         sequenceRate.frames(offset) + "\" tcStart=\"0s\" tcFormat=\"NDF\">\n";
  out += "          <spine>\n";
  out += clips;
  out += "          </spine>\n";
  out += "        </sequence>\n";
  out += "      </project>\n";
  out += "    </event>\n";
  out += "  </library>\n";
  out += "</fcpxml>\n";
  return out;
}

std::string MarkerExport::csv(const std::vector<Row>& rows) {
  std::string out = "File,Timecode,Seconds,Score\n";
  for (const Row& row : rows) {
    out += csvField(Utf8::isValid(row.path) ? row.path : fileURL(row.path));
    out += ',';
    out += timecode(row.time);
    out += ',';
    appendFixed(out, row.time, 2);
    out += ',';
    appendFixed(out, static_cast<double>(row.score), 3);
    out += '\n';
  }
  return out;
}

std::string MarkerExport::fileURL(const std::filesystem::path& path) {
  std::filesystem::path absolute = path;
  if (!absolute.is_absolute()) {
    std::error_code error;
    absolute = std::filesystem::absolute(path, error);
    if (error) absolute = std::filesystem::path("/") / path;
  }
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out = "file://";
  for (const char ch : absolute.native()) {
    const auto byte = static_cast<unsigned char>(ch);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                            byte == '_' || byte == '~' || byte == '/';
    if (unreserved) {
      out += ch;
    } else {
      out += '%';
      out += hex[byte >> 4];
      out += hex[byte & 0xF];
    }
  }
  return out;
}

std::string MarkerExport::escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  eachCharacter(text, [&](char32_t c, std::string_view original) {
    switch (c) {
      case '&':
        out += "&amp;";
        return;
      case '<':
        out += "&lt;";
        return;
      case '>':
        out += "&gt;";
        return;
      case '"':
        out += "&quot;";
        return;
      // Written raw, a parser would turn these into spaces.
      case '\t':
        out += "&#9;";
        return;
      case '\n':
        out += "&#10;";
        return;
      case '\r':
        out += "&#13;";
        return;
      default:
        break;
    }
    if (original.empty() || outsideXML(c)) {
      out += Utf8::replacement;
    } else {
      out += original;
    }
  });
  return out;
}

}  // namespace quillmere
