// SPDX-License-Identifier: GPL-3.0-or-later
// The turned-rectangle cut: one affine warp at the source's own scale, then a resize, so a
// large line is filtered as it shrinks rather than sampled.
#include "platform/PictureWarp.h"

#include <vips/vips.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "platform/ImageCodec.h"

namespace quillmere {
namespace {

struct Unref {
  void operator()(void* object) const { g_object_unref(object); }
};
using Image = std::unique_ptr<VipsImage, Unref>;

double distance(const PictureWarp::Point& a, const PictureWarp::Point& b) {
  return std::hypot(b.x - a.x, b.y - a.y);
}

std::optional<Picture> failed() {
  vips_error_clear();
  return std::nullopt;
}

std::optional<Picture> toPicture(VipsImage* image) {
  std::size_t size = 0;
  void* memory = vips_image_write_to_memory(image, &size);
  if (!memory) return failed();
  Picture picture;
  picture.width = vips_image_get_width(image);
  picture.height = vips_image_get_height(image);
  const auto* bytes = static_cast<const std::uint8_t*>(memory);
  if (size == static_cast<std::size_t>(picture.width) * picture.height * 3)
    picture.rgb.assign(bytes, bytes + size);
  g_free(memory);
  if (picture.rgb.empty()) return failed();
  return picture;
}

}  // namespace

std::optional<Picture> PictureWarp::cut(const Picture& picture, const std::array<Point, 4>& corners,
                                        int height, int maxWidth) {
  ImageCodec::start();
  const auto expected = static_cast<std::size_t>(picture.width) * picture.height * 3;
  if (picture.width <= 0 || picture.height <= 0 || picture.rgb.size() != expected || height < 1)
    return std::nullopt;
  // The strip's own size: its longer opposite sides, as the rectangle may be slightly skewed.
  const double across =
      std::max(distance(corners[0], corners[1]), distance(corners[3], corners[2]));
  const double down = std::max(distance(corners[0], corners[3]), distance(corners[1], corners[2]));
  if (!(across >= 1) || !(down >= 1)) return std::nullopt;
  const int nativeWidth = std::max(1, static_cast<int>(std::lround(across)));
  const int nativeHeight = std::max(1, static_cast<int>(std::lround(down)));

  // Output (u, v) comes from corner0 + u * right + v * downward: the warp takes the inverse.
  const double rx = (corners[1].x - corners[0].x) / nativeWidth;
  const double ry = (corners[1].y - corners[0].y) / nativeWidth;
  const double dx = (corners[3].x - corners[0].x) / nativeHeight;
  const double dy = (corners[3].y - corners[0].y) / nativeHeight;
  const double determinant = rx * dy - dx * ry;
  if (std::abs(determinant) < 1e-9) return std::nullopt;
  const double a = dy / determinant, b = -dx / determinant;
  const double c = -ry / determinant, d = rx / determinant;

  // Wraps the caller's pixels without a copy: everything is written out before returning.
  Image source(vips_image_new_from_memory(picture.rgb.data(), picture.rgb.size(), picture.width,
                                          picture.height, 3, VIPS_FORMAT_UCHAR));
  if (!source) return failed();
  // Bilinear, as the recogniser's training crops were cut.
  VipsInterpolate* bilinear = vips_interpolate_new("bilinear");
  VipsArrayInt* area = vips_array_int_newv(4, 0, 0, nativeWidth, nativeHeight);
  VipsImage* warped = nullptr;
  const int status =
      vips_affine(source.get(), &warped, a, b, c, d, "interpolate", bilinear, "oarea", area, "idx",
                  -corners[0].x, "idy", -corners[0].y, "extend", VIPS_EXTEND_COPY, nullptr);
  vips_area_unref(VIPS_AREA(area));
  g_object_unref(bilinear);
  if (status) return failed();
  Image strip(warped);

  const int width = std::clamp(
      static_cast<int>(std::lround(static_cast<double>(height) * nativeWidth / nativeHeight)), 1,
      std::max(1, maxWidth));
  VipsImage* resized = nullptr;
  if (vips_resize(strip.get(), &resized, static_cast<double>(width) / nativeWidth, "vscale",
                  static_cast<double>(height) / nativeHeight, "kernel", VIPS_KERNEL_LINEAR,
                  nullptr))
    return failed();
  Image sized(resized);
  // Rounding inside libvips may land one pixel off; the size asked for is the contract.
  VipsImage* exact = nullptr;
  if (vips_embed(sized.get(), &exact, 0, 0, width, height, "extend", VIPS_EXTEND_COPY, nullptr))
    return failed();
  Image placed(exact);
  VipsImage* bytes = nullptr;
  if (vips_cast_uchar(placed.get(), &bytes, nullptr)) return failed();
  Image result(bytes);
  return toPicture(result.get());
}

}  // namespace quillmere

namespace quillmere {

double PictureWarp::Affine::scale() const {
  return std::sqrt(std::abs(a * d - b * c));
}

PictureWarp::Affine PictureWarp::similarity(std::span<const Point> from,
                                            std::span<const Point> to) {
  if (from.size() != to.size() || from.size() < 2) return {};
  Point meanFrom, meanTo;
  for (std::size_t i = 0; i < from.size(); ++i) {
    meanFrom = {meanFrom.x + from[i].x / from.size(), meanFrom.y + from[i].y / from.size()};
    meanTo = {meanTo.x + to[i].x / to.size(), meanTo.y + to[i].y / to.size()};
  }
  double spread = 0, along = 0, across = 0;
  for (std::size_t i = 0; i < from.size(); ++i) {
    const double px = from[i].x - meanFrom.x, py = from[i].y - meanFrom.y;
    const double qx = to[i].x - meanTo.x, qy = to[i].y - meanTo.y;
    spread += px * px + py * py;
    along += px * qx + py * qy;
    across += px * qy - py * qx;
  }
  if (spread < 1e-12) return {};
  const double cosine = along / spread, sine = across / spread;
  Affine map{cosine, -sine, sine, cosine, 0, 0};
  const Point moved = map(meanFrom);
  map.x = meanTo.x - moved.x;
  map.y = meanTo.y - moved.y;
  return map;
}

std::optional<Picture> PictureWarp::warp(const Picture& picture, const Affine& map, int width,
                                         int height) {
  ImageCodec::start();
  const auto expected = static_cast<std::size_t>(picture.width) * picture.height * 3;
  const double determinant = map.a * map.d - map.b * map.c;
  if (picture.width <= 0 || picture.height <= 0 || picture.rgb.size() != expected || width < 1 ||
      height < 1 || !(std::abs(determinant) > 1e-12))
    return std::nullopt;
  Image source(vips_image_new_from_memory(picture.rgb.data(), picture.rgb.size(), picture.width,
                                          picture.height, 3, VIPS_FORMAT_UCHAR));
  if (!source) return failed();

  // 1. Where the output comes from: the inverse map of its corners, a little wider.
  const Affine inverse{
      map.d / determinant, -map.b / determinant, -map.c / determinant, map.a / determinant, 0, 0};
  double left = picture.width, top = picture.height, right = 0, bottom = 0;
  for (const Point corner : {Point{0, 0}, Point{double(width), 0}, Point{0, double(height)},
                             Point{double(width), double(height)}}) {
    const Point p = inverse({corner.x - map.x, corner.y - map.y});
    left = std::min(left, p.x), right = std::max(right, p.x);
    top = std::min(top, p.y), bottom = std::max(bottom, p.y);
  }
  const int x0 = std::clamp(static_cast<int>(std::floor(left)) - 2, 0, picture.width - 1);
  const int y0 = std::clamp(static_cast<int>(std::floor(top)) - 2, 0, picture.height - 1);
  const int x1 = std::clamp(static_cast<int>(std::ceil(right)) + 2, x0 + 1, picture.width);
  const int y1 = std::clamp(static_cast<int>(std::ceil(bottom)) + 2, y0 + 1, picture.height);

  // 2. That part, reduced with a filter to about the output's scale when the map shrinks.
  VipsImage* cut = nullptr;
  if (vips_extract_area(source.get(), &cut, x0, y0, x1 - x0, y1 - y0, nullptr)) return failed();
  Image part(cut);
  double sx = 1, sy = 1;
  const double shrink = map.scale();
  if (shrink < 0.5) {
    VipsImage* reduced = nullptr;
    if (vips_resize(part.get(), &reduced, shrink, nullptr)) return failed();
    sx = static_cast<double>(vips_image_get_width(reduced)) / (x1 - x0);
    sy = static_cast<double>(vips_image_get_height(reduced)) / (y1 - y0);
    part = Image(reduced);
  }

  // 3. The map from the reduced part: u = (x - x0) * sx, v = (y - y0) * sy.
  const double a = map.a / sx, b = map.b / sy, c = map.c / sx, d = map.d / sy;
  const double dx = map.a * x0 + map.b * y0 + map.x, dy = map.c * x0 + map.d * y0 + map.y;
  VipsInterpolate* bilinear = vips_interpolate_new("bilinear");
  VipsArrayInt* area = vips_array_int_newv(4, 0, 0, width, height);
  VipsImage* warped = nullptr;
  const int status = vips_affine(part.get(), &warped, a, b, c, d, "interpolate", bilinear, "oarea",
                                 area, "odx", dx, "ody", dy, "extend", VIPS_EXTEND_COPY, nullptr);
  vips_area_unref(VIPS_AREA(area));
  g_object_unref(bilinear);
  if (status) return failed();
  Image out(warped);
  VipsImage* bytes = nullptr;
  if (vips_cast_uchar(out.get(), &bytes, nullptr)) return failed();
  Image result(bytes);
  return toPicture(result.get());
}

}  // namespace quillmere
