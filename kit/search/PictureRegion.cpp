// SPDX-License-Identifier: GPL-3.0-or-later
// Regions: parsing, their limits, and the pixels they cover.
#include "search/PictureRegion.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace quillmere {
namespace {

std::optional<double> number(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return {};
  return value;
}

// A fraction of `size` pixels as a pixel edge, rounded down or up past a rounding error.
int edge(double fraction, int size, bool up) {
  const double at = fraction * size;
  const double whole = up ? std::ceil(at - PictureRegion::slack * size)
                          : std::floor(at + PictureRegion::slack * size);
  return static_cast<int>(std::clamp(whole, 0.0, static_cast<double>(size)));
}

}  // namespace

std::optional<PictureRegion> PictureRegion::parse(std::string_view text) {
  std::array<double, 4> values{};
  for (std::size_t i = 0; i < values.size(); ++i) {
    const auto comma = text.find(',');
    if ((comma == std::string_view::npos) != (i + 1 == values.size())) return std::nullopt;
    const auto value = number(text.substr(0, comma));
    if (!value) return std::nullopt;
    values[i] = *value;
    text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
  }
  return PictureRegion{values[0], values[1], values[2], values[3]};
}

PictureRegion::Fault PictureRegion::fault() const {
  for (const double value : {x, y, width, height}) {
    if (!std::isfinite(value)) return Fault::notNumbers;
  }
  if (x < 0 || y < 0) return Fault::startsOutside;
  if (width <= 0 || height <= 0) return Fault::empty;
  if (x + width > 1 + slack || y + height > 1 + slack) return Fault::endsOutside;
  return Fault::none;
}

std::optional<ImageCodec::Rect> PictureRegion::pixels(int pictureWidth, int pictureHeight) const {
  if (fault() != Fault::none || pictureWidth < 1 || pictureHeight < 1) return std::nullopt;
  const int left = edge(x, pictureWidth, false);
  const int top = edge(y, pictureHeight, false);
  const int right = edge(x + width, pictureWidth, true);
  const int bottom = edge(y + height, pictureHeight, true);
  if (right <= left || bottom <= top) return std::nullopt;
  return ImageCodec::Rect{left, top, right - left, bottom - top};
}

}  // namespace quillmere
