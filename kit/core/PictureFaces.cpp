// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/PictureFaces.h"

#include <cstring>
#include <nlohmann/json.hpp>

namespace quillmere {
namespace {

using nlohmann::json;

// Raised when the layout changes; older bytes then read as no faces and are found again.
constexpr int version = 1;
constexpr std::size_t pointCount = 2 + 6;

json pointsOf(const FaceRecord& face) {
  json points = json::array();
  auto add = [&](const FaceRecord::Point& p) {
    points.push_back(p.x);
    points.push_back(p.y);
  };
  for (const auto& p : face.box) add(p);
  for (const auto& p : face.keypoints) add(p);
  return points;
}

std::vector<std::uint8_t> bytesOf(const std::vector<Half>& vector) {
  std::vector<std::uint8_t> bytes(vector.size() * sizeof(Half));
  if (!bytes.empty()) std::memcpy(bytes.data(), vector.data(), bytes.size());
  return bytes;
}

FaceRecord::Point pointAt(const json& points, std::size_t i) {
  const json& x = points[2 * i];
  const json& y = points[2 * i + 1];
  if (!x.is_number() || !y.is_number()) throw std::invalid_argument("not a point");
  return {x.get<float>(), y.get<float>()};
}

FaceRecord faceFrom(const json& item) {
  if (!item.is_array() || item.size() != 4 || !item[0].is_array() ||
      item[0].size() != 2 * pointCount || !item[1].is_number() || !item[2].is_number() ||
      !item[3].is_binary() || item[3].get_binary().size() % sizeof(Half) != 0) {
    throw std::invalid_argument("not a face");
  }
  FaceRecord face{.score = item[1].get<float>(), .quality = item[2].get<float>()};
  for (std::size_t i = 0; i < 2; ++i) face.box[i] = pointAt(item[0], i);
  for (std::size_t i = 0; i < 6; ++i) face.keypoints[i] = pointAt(item[0], 2 + i);
  const auto& bytes = item[3].get_binary();
  face.vector.resize(bytes.size() / sizeof(Half));
  if (!bytes.empty()) std::memcpy(face.vector.data(), bytes.data(), bytes.size());
  return face;
}

}  // namespace

std::vector<std::uint8_t> PictureFaces::encoded() const {
  json items = json::array();
  for (const FaceRecord& face : faces) {
    items.push_back(json::array(
        {pointsOf(face), face.score, face.quality, json::binary(bytesOf(face.vector))}));
  }
  return json::to_cbor(json::array({version, capped, std::move(items)}));
}

PictureFaces PictureFaces::decoded(std::span<const std::uint8_t> bytes) {
  try {
    const json record = json::from_cbor(bytes.begin(), bytes.end());
    if (!record.is_array() || record.size() != 3 || record[0] != version ||
        !record[1].is_boolean() || !record[2].is_array()) {
      return {};
    }
    PictureFaces found{.capped = record[1].get<bool>()};
    for (const json& item : record[2]) found.faces.push_back(faceFrom(item));
    return found;
  } catch (const std::exception&) {
    return {};  // damaged: no faces, never a half record
  }
}

}  // namespace quillmere
