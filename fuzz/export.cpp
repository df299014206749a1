// SPDX-License-Identifier: GPL-3.0-or-later
// Marker export with arbitrary labels, titles, paths, times and probed media: the FCPXML text
// must be a well-formed XML document in valid UTF-8 (checked by libxml2), with one clip and
// one marker per moment whose attribute values read back as the text given; the CSV text must
// be valid UTF-8 and read back (RFC 4180) into the rows given.
//
// Text that is not valid UTF-8 (file names on Linux may hold any bytes but "/" and NUL) is
// written with every ill-formed sequence replaced by U+FFFD, in both formats; so are NUL and
// the characters XML 1.0 cannot carry at all (other C0 controls, U+FFFE, U+FFFF) in FCPXML,
// and NUL in CSV. The file URL percent-encodes the raw bytes, so it names the file exactly.
#include <fuzzer/FuzzedDataProvider.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cmath>
#include <cstdio>
#include <limits>

#include "FuzzSupport.h"
#include "export/MarkerExport.h"

using namespace quillmere;

namespace {

// The attribute value a text must read back as, for valid UTF-8 text.
std::string expectedAttribute(const std::string& text) {
  std::string out;
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = s[i];
    const std::size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    const std::string character = text.substr(i, length);
    i += length;
    const bool forbidden = (c < 0x20 && c != '\t' && c != '\n' && c != '\r') ||
                           character == "\xEF\xBF\xBE" || character == "\xEF\xBF\xBF";
    out += forbidden ? "\xEF\xBF\xBD" : character;
  }
  return out;
}

std::string attribute(xmlNode* node, const char* name) {
  xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
  fuzz::require(value != nullptr, std::string("an element without its attribute ") + name);
  std::string text(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return text;
}

void collect(xmlNode* node, const char* name, std::vector<xmlNode*>& found) {
  for (; node; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    if (xmlStrcmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0) found.push_back(node);
    collect(node->children, name, found);
  }
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void checkFileURL(const std::filesystem::path& path, const std::string& url) {
  fuzz::require(url.starts_with("file:///"), "a file URL without its scheme");
  std::string decoded;
  for (std::size_t i = 7; i < url.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(url[i]);
    fuzz::require(c > 0x20 && c < 0x7F, "a file URL with a raw byte");
    if (c == '%') {
      fuzz::require(i + 2 < url.size() && hexValue(url[i + 1]) >= 0 && hexValue(url[i + 2]) >= 0,
                    "a broken percent escape");
      decoded += static_cast<char>(hexValue(url[i + 1]) * 16 + hexValue(url[i + 2]));
      i += 2;
    } else {
      decoded += static_cast<char>(c);
    }
  }
  if (path.is_absolute())
    fuzz::require(decoded == path.native(), "the file URL names another file");
}

std::string text(FuzzedDataProvider& input, std::size_t length) {
  return input.ConsumeRandomLengthString(length);
}

double anyTime(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:
      return input.ConsumeFloatingPointInRange(0.0, 7200.0);
    case 1:
      return input.ConsumeIntegralInRange(0, 100000) / 100.0;
    default:
      return input.ConsumeFloatingPoint<double>();
  }
}

void checkFcpxml(FuzzedDataProvider& input) {
  const std::string title = text(input, 40);
  const double handles = input.ConsumeBool() ? 2.5 : anyTime(input);
  std::vector<MarkerExport::Moment> moments(input.ConsumeIntegralInRange(0, 6));
  std::vector<std::filesystem::path> files;
  for (std::size_t i = input.ConsumeIntegralInRange(1, 3); i > 0; --i)
    files.emplace_back((input.ConsumeBool() ? "/" : "") + text(input, 40));
  std::map<std::filesystem::path, MarkerExport::Media> media;
  for (const auto& file : files) {
    if (!input.ConsumeBool()) continue;
    MarkerExport::Media m;
    m.rate = MarkerExport::Rate::from(input.ConsumeFloatingPoint<double>());
    m.width = input.ConsumeIntegralInRange(1, std::numeric_limits<int>::max());
    m.height = input.ConsumeIntegralInRange(1, std::numeric_limits<int>::max());
    m.duration = input.ConsumeBool() ? 0 : std::fabs(anyTime(input));
    if (!std::isfinite(m.duration)) m.duration = 0;
    m.hasAudio = input.ConsumeBool();
    media[file] = m;
  }
  for (auto& moment : moments) {
    moment.path = files[input.ConsumeIntegralInRange<std::size_t>(0, files.size() - 1)];
    moment.time = anyTime(input);
    moment.duration = input.ConsumeBool() ? 0 : anyTime(input);
    moment.label = text(input, 60);
  }

  const std::string document = MarkerExport::fcpxml(moments, title, handles, media);
  fuzz::require(fuzz::validUTF8(document), "FCPXML that is not valid UTF-8");
  xmlDoc* doc = xmlReadMemory(document.data(), static_cast<int>(document.size()), "export.fcpxml",
                              "UTF-8", XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (!doc) {
    std::fprintf(stderr, "%s", document.c_str());
    fuzz::fail("FCPXML that is not well-formed XML");
  }
  xmlNode* root = xmlDocGetRootElement(doc);
  fuzz::require(root && xmlStrcmp(root->name, BAD_CAST "fcpxml") == 0, "no fcpxml root");
  std::vector<xmlNode*> clips, markers, events, reps;
  collect(root, "asset-clip", clips);
  collect(root, "marker", markers);
  collect(root, "event", events);
  collect(root, "media-rep", reps);
  fuzz::require(clips.size() == moments.size() && markers.size() == moments.size(),
                "not one clip and one marker per moment");
  fuzz::require(events.size() == 1, "not one event");
  if (fuzz::validUTF8(title))
    fuzz::require(attribute(events[0], "name") == expectedAttribute(title), "the title changed");
  for (std::size_t i = 0; i < moments.size(); ++i) {
    const std::string value = attribute(markers[i], "value");
    if (fuzz::validUTF8(moments[i].label))
      fuzz::require(value == expectedAttribute(moments[i].label), "a label changed");
    const std::string stem = moments[i].path.stem().string();
    if (fuzz::validUTF8(stem))
      fuzz::require(attribute(clips[i], "name") == expectedAttribute(stem), "a clip name changed");
    for (const char* time : {"offset", "start", "duration"})
      fuzz::require(attribute(clips[i], time).ends_with("s"), "a time without its unit");
  }
  for (xmlNode* rep : reps) {
    const std::string src = attribute(rep, "src");
    bool named = false;
    for (const auto& file : files) {
      if (MarkerExport::fileURL(file) == src) {
        checkFileURL(file, src);
        named = true;
      }
    }
    fuzz::require(named, "a media reference to no file of the moments");
  }
  xmlFreeDoc(doc);
}

// RFC 4180 records; the export ends lines with a line feed only.
std::vector<std::vector<std::string>> readCsv(const std::string& csv) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  bool quoted = false, wasQuoted = false;
  for (std::size_t i = 0; i < csv.size(); ++i) {
    const char c = csv[i];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (i + 1 < csv.size() && csv[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        quoted = false;
      }
      continue;
    }
    if (c == '"') {
      fuzz::require(field.empty() && !wasQuoted, "a quote inside an unquoted CSV field");
      quoted = wasQuoted = true;
    } else if (c == ',' || c == '\n') {
      record.push_back(field);
      field.clear();
      wasQuoted = false;
      if (c == '\n') {
        records.push_back(record);
        record.clear();
      }
    } else {
      fuzz::require(!wasQuoted, "text after a closing quote");
      field += c;
    }
  }
  fuzz::require(!quoted && field.empty() && record.empty(), "CSV text that does not end a line");
  return records;
}

std::string printed(const char* format, double value) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

void checkCsv(FuzzedDataProvider& input) {
  std::vector<MarkerExport::Row> rows(input.ConsumeIntegralInRange(0, 6));
  for (auto& row : rows) {
    row.path = text(input, 60);
    row.time = anyTime(input);
    row.score = input.ConsumeBool() ? input.ConsumeProbability<float>()
                                    : input.ConsumeFloatingPoint<float>();
  }
  const std::string csv = MarkerExport::csv(rows);
  fuzz::require(fuzz::validUTF8(csv), "CSV that is not valid UTF-8");
  const auto records = readCsv(csv);
  fuzz::require(records.size() == rows.size() + 1, "not one CSV line per row");
  fuzz::require(records[0] == std::vector<std::string>{"File", "Timecode", "Seconds", "Score"},
                "the CSV header");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& fields = records[i + 1];
    const MarkerExport::Row& row = rows[i];
    fuzz::require(fields.size() == 4, "a CSV line without four fields");
    if (fuzz::validUTF8(row.path)) {
      std::string expected;
      for (char c : row.path)
        expected += c == '\0' ? std::string("\xEF\xBF\xBD") : std::string(1, c);
      fuzz::require(fields[0] == expected, "a path changed in the CSV");
    }
    const double t = row.time;
    const long long whole = t > 0 && t <= 9.0e15 ? static_cast<long long>(std::floor(t)) : 0;
    char timecode[64];
    std::snprintf(timecode, sizeof timecode, "%02lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                  whole % 60);
    fuzz::require(fields[1] == timecode, "a CSV time code");
    if (std::isfinite(t)) fuzz::require(fields[2] == printed("%.2f", t), "CSV seconds");
    if (std::isfinite(row.score))
      fuzz::require(fields[3] == printed("%.3f", row.score), "a CSV score");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  if (input.ConsumeBool()) {
    checkFcpxml(input);
  } else {
    checkCsv(input);
  }
  return 0;
}
