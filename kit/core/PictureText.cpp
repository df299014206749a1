// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/PictureText.h"

#include <nlohmann/json.hpp>

namespace quillmere {
namespace {

using nlohmann::json;

// Raised when the layout changes; older bytes then read as no text and are read again.
constexpr int version = 1;

TextLine lineFrom(const json& item) {
  if (!item.is_array() || item.size() != 3 || !item[0].is_string() || !item[1].is_array() ||
      item[1].size() != 8 || !item[2].is_number()) {
    throw std::invalid_argument("not a line");
  }
  TextLine line{.text = item[0].get<std::string>(), .confidence = item[2].get<float>()};
  for (std::size_t i = 0; i < 4; ++i) {
    const json& x = item[1][2 * i];
    const json& y = item[1][2 * i + 1];
    if (!x.is_number() || !y.is_number()) throw std::invalid_argument("not a point");
    line.box[i] = {x.get<float>(), y.get<float>()};
  }
  return line;
}

}  // namespace

std::vector<std::uint8_t> PictureText::encoded() const {
  json items = json::array();
  for (const TextLine& line : lines) {
    json box = json::array();
    for (const TextLine::Point& point : line.box) {
      box.push_back(point.x);
      box.push_back(point.y);
    }
    items.push_back(json::array({line.text, std::move(box), line.confidence}));
  }
  return json::to_cbor(json::array({version, capped, std::move(items)}));
}

PictureText PictureText::decoded(std::span<const std::uint8_t> bytes) {
  try {
    const json record = json::from_cbor(bytes.begin(), bytes.end());
    if (!record.is_array() || record.size() != 3 || record[0] != version ||
        !record[1].is_boolean() || !record[2].is_array()) {
      return {};
    }
    PictureText text{.capped = record[1].get<bool>()};
    for (const json& item : record[2]) text.lines.push_back(lineFrom(item));
    return text;
  } catch (const std::exception&) {
    return {};  // damaged: no text, never a half record
  }
}

}  // namespace quillmere
