// SPDX-License-Identifier: GPL-3.0-or-later
// The detector's pass and its probability map turned into boxes, as the model was trained.
#include "text/TextDetector.h"

#include <clipper.hpp>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "platform/ImageCodec.h"

namespace quillmere {
namespace {

using Point = PictureWarp::Point;

struct Rectangle {
  std::array<Point, 4> corners;  // top left, top right, bottom right, bottom left
  double shortSide = 0;
};

double cross(const Point& o, const Point& a, const Point& b) {
  return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// Andrew's monotone chain: the hull counter-clockwise (in y-down pixels, clockwise on screen).
std::vector<Point> convexHull(std::vector<Point> points) {
  std::sort(points.begin(), points.end(),
            [](const Point& a, const Point& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
  if (points.size() < 3) return points;
  std::vector<Point> hull(2 * points.size());
  std::size_t k = 0;
  for (const Point& p : points) {
    while (k >= 2 && cross(hull[k - 2], hull[k - 1], p) <= 0) --k;
    hull[k++] = p;
  }
  for (std::size_t i = points.size() - 1, lower = k + 1; i-- > 0;) {
    while (k >= lower && cross(hull[k - 2], hull[k - 1], points[i]) <= 0) --k;
    hull[k++] = points[i];
  }
  hull.resize(k - 1);
  return hull;
}

// The corners in the order the published post-processing gives them: of the two leftmost the
// upper is the top left, of the two rightmost the upper is the top right.
std::array<Point, 4> ordered(std::array<Point, 4> corners) {
  std::sort(corners.begin(), corners.end(),
            [](const Point& a, const Point& b) { return a.x < b.x; });
  const auto [topLeft, bottomLeft] = corners[1].y > corners[0].y
                                         ? std::pair{corners[0], corners[1]}
                                         : std::pair{corners[1], corners[0]};
  const auto [topRight, bottomRight] = corners[3].y > corners[2].y
                                           ? std::pair{corners[2], corners[3]}
                                           : std::pair{corners[3], corners[2]};
  return {topLeft, topRight, bottomRight, bottomLeft};
}

// The smallest rectangle around the points: one of its sides lies along an edge of the hull.
Rectangle minimumAreaRectangle(const std::vector<Point>& points) {
  const std::vector<Point> hull = convexHull(points);
  if (hull.empty()) return {};
  if (hull.size() == 1) return {{hull[0], hull[0], hull[0], hull[0]}, 0};
  double bestArea = INFINITY;
  Rectangle best;
  for (std::size_t i = 0; i < hull.size(); ++i) {
    const Point& a = hull[i];
    const Point& b = hull[(i + 1) % hull.size()];
    const double length = std::hypot(b.x - a.x, b.y - a.y);
    if (length == 0) continue;
    const double ux = (b.x - a.x) / length, uy = (b.y - a.y) / length;
    double minU = INFINITY, maxU = -INFINITY, minV = INFINITY, maxV = -INFINITY;
    for (const Point& p : hull) {
      const double u = p.x * ux + p.y * uy, v = -p.x * uy + p.y * ux;
      minU = std::min(minU, u), maxU = std::max(maxU, u);
      minV = std::min(minV, v), maxV = std::max(maxV, v);
    }
    const double area = (maxU - minU) * (maxV - minV);
    if (area >= bestArea) continue;
    bestArea = area;
    const auto at = [&](double u, double v) { return Point{u * ux - v * uy, u * uy + v * ux}; };
    best.corners = ordered({at(minU, minV), at(maxU, minV), at(maxU, maxV), at(minU, maxV)});
    best.shortSide = std::min(maxU - minU, maxV - minV);
  }
  return best;
}

bool insideQuad(const std::array<Point, 4>& quad, const Point& p) {
  bool positive = false, negative = false;
  for (std::size_t i = 0; i < 4; ++i) {
    const double side = cross(quad[i], quad[(i + 1) % 4], p);
    positive |= side > 0;
    negative |= side < 0;
  }
  return !(positive && negative);
}

// The mean probability over the map's pixels inside the box.
float boxScore(const std::vector<float>& map, int width, int height,
               const std::array<Point, 4>& box) {
  double minX = INFINITY, maxX = -INFINITY, minY = INFINITY, maxY = -INFINITY;
  for (const Point& p : box) {
    minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
    minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
  }
  const int left = std::clamp(static_cast<int>(std::floor(minX)), 0, width - 1);
  const int right = std::clamp(static_cast<int>(std::ceil(maxX)), 0, width - 1);
  const int top = std::clamp(static_cast<int>(std::floor(minY)), 0, height - 1);
  const int bottom = std::clamp(static_cast<int>(std::ceil(maxY)), 0, height - 1);
  double sum = 0;
  std::size_t count = 0;
  for (int y = top; y <= bottom; ++y) {
    for (int x = left; x <= right; ++x) {
      if (!insideQuad(box, {static_cast<double>(x), static_cast<double>(y)})) continue;
      sum += map[static_cast<std::size_t>(y) * width + x];
      ++count;
    }
  }
  return count == 0 ? 0.0f : static_cast<float>(sum / count);
}

// The box grown outwards by area * ratio / perimeter, with Clipper's rounded offset, in whole
// map pixels (corners truncated) as the model's published post-processing does.
std::vector<Point> unclipped(const std::array<Point, 4>& box, double ratio) {
  double area = 0, perimeter = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const Point& a = box[i];
    const Point& b = box[(i + 1) % 4];
    area += a.x * b.y - b.x * a.y;
    perimeter += std::hypot(b.x - a.x, b.y - a.y);
  }
  area = std::abs(area) / 2;
  if (perimeter == 0) return {};
  ClipperLib::Path path;
  for (const Point& p : box) {
    path.emplace_back(static_cast<ClipperLib::cInt>(p.x), static_cast<ClipperLib::cInt>(p.y));
  }
  ClipperLib::ClipperOffset offset;
  offset.AddPath(path, ClipperLib::jtRound, ClipperLib::etClosedPolygon);
  ClipperLib::Paths grown;
  offset.Execute(grown, area * ratio / perimeter);
  std::vector<Point> points;
  for (const auto& polygon : grown) {
    for (const auto& p : polygon)
      points.push_back({static_cast<double>(p.X), static_cast<double>(p.Y)});
  }
  return points;
}

// The regions of the map above the threshold, 8-connected, each as its pixels' coordinates.
template <typename Visit>
void forEachRegion(const std::vector<float>& map, int width, int height, float threshold,
                   Visit visit) {
  std::vector<std::uint8_t> seen(map.size(), 0);
  std::vector<std::size_t> queue;
  std::vector<Point> region;
  for (std::size_t start = 0; start < map.size(); ++start) {
    if (seen[start] || map[start] <= threshold) continue;
    seen[start] = 1;
    queue.assign(1, start);
    region.clear();
    for (std::size_t head = 0; head < queue.size(); ++head) {
      const std::size_t at = queue[head];
      const int x = static_cast<int>(at % width), y = static_cast<int>(at / width);
      region.push_back({static_cast<double>(x), static_cast<double>(y)});
      for (int ny = std::max(0, y - 1); ny <= std::min(height - 1, y + 1); ++ny) {
        for (int nx = std::max(0, x - 1); nx <= std::min(width - 1, x + 1); ++nx) {
          const std::size_t next = static_cast<std::size_t>(ny) * width + nx;
          if (seen[next] || map[next] <= threshold) continue;
          seen[next] = 1;
          queue.push_back(next);
        }
      }
    }
    visit(region);
  }
}

// Top to bottom, then left to right where two boxes start within 10 pixels of one height.
void sortForReading(std::vector<TextDetector::Box>& boxes) {
  std::sort(boxes.begin(), boxes.end(), [](const auto& a, const auto& b) {
    const Point &p = a.corners[0], &q = b.corners[0];
    return p.y < q.y || (p.y == q.y && p.x < q.x);
  });
  for (std::size_t i = 0; i + 1 < boxes.size(); ++i) {
    for (std::size_t j = i + 1; j-- > 0;) {
      const Point &next = boxes[j + 1].corners[0], &here = boxes[j].corners[0];
      if (std::abs(next.y - here.y) >= 10 || next.x >= here.x) break;
      std::swap(boxes[j], boxes[j + 1]);
    }
  }
}

}  // namespace

TextDetector::TextDetector(const TextModel& model)
    : settings_(model.detector()),
      normalisation_{settings_.mean, settings_.std, model.bgr()},
      session_(model.detector().file) {}

TextDetector::Found TextDetector::detect(const Picture& picture) {
  const int longest = std::max(picture.width, picture.height);
  if (settings_.firstLookSide > 0 && longest > settings_.firstLookSide &&
      !mayHoldText(picture, settings_.firstLookSide, settings_.firstLookThreshold,
                   settings_.firstLookPixels))
    return {};
  return detect(picture, settings_.side);
}

bool TextDetector::mayHoldText(const Picture& picture, int side, float threshold, int pixels) {
  // Scattered pixels are the texture of a photo; a line of text, even small, makes a region.
  const Map map = probabilityMap(picture, side);
  bool seen = false;
  forEachRegion(map.probability, map.width, map.height, threshold,
                [&](const std::vector<Point>& region) {
                  seen |= region.size() >= static_cast<std::size_t>(pixels);
                });
  return seen;
}

TextDetector::Map TextDetector::probabilityMap(const Picture& picture, int side) {
  // The copy's sides: the picture's, scaled so the longest fits, rounded to multiples of 32.
  const int longest = std::max(picture.width, picture.height);
  const double ratio = longest > side ? static_cast<double>(side) / longest : 1.0;
  const auto fit = [&](int length) {
    return std::max(32, static_cast<int>(std::lround(length * ratio / 32)) * 32);
  };
  Map map;
  map.width = fit(picture.width);
  map.height = fit(picture.height);
  // Bilinear, as the model was trained: a sharper filter moves the map's edges and the boxes.
  const auto copy = ImageCodec::resize(picture, map.width, map.height, ImageCodec::Kernel::linear);
  if (!copy) throw std::runtime_error("The picture could not be resized for reading.");
  std::vector<float> input(static_cast<std::size_t>(3) * map.width * map.height, 0.0f);
  TextSession::write(*copy, normalisation_, input, 0, map.height, map.width);
  Ort::Value output = session_.run(input, {1, 3, map.height, map.width});
  const auto shape = output.GetTensorTypeAndShapeInfo().GetShape();
  if (shape.size() != 4 || shape[2] != map.height || shape[3] != map.width)
    throw TextModel::Failure("the detector's map does not match its input");
  const float* data = output.GetTensorData<float>();
  map.probability.assign(data, data + input.size() / 3);
  return map;
}

TextDetector::Found TextDetector::detect(const Picture& picture, int side) {
  const Map map = probabilityMap(picture, side);
  const double scaleX = static_cast<double>(picture.width) / map.width;
  const double scaleY = static_cast<double>(picture.height) / map.height;
  Found found;
  forEachRegion(
      map.probability, map.width, map.height, settings_.threshold,
      [&](const std::vector<Point>& region) {
        const Rectangle tight = minimumAreaRectangle(region);
        if (tight.shortSide < settings_.minBoxSize) return;
        const float score = boxScore(map.probability, map.width, map.height, tight.corners);
        if (score < settings_.boxScore) return;
        const Rectangle grown =
            minimumAreaRectangle(unclipped(tight.corners, settings_.unclipRatio));
        if (grown.shortSide < settings_.minBoxSize + 2) return;
        Box box{grown.corners, score};
        for (Point& p : box.corners) {  // whole pixels, as published
          p.x = std::clamp(std::round(p.x * scaleX), 0.0, static_cast<double>(picture.width));
          p.y = std::clamp(std::round(p.y * scaleY), 0.0, static_cast<double>(picture.height));
        }
        const auto length = [](const Point& a, const Point& b) {
          return std::hypot(b.x - a.x, b.y - a.y);
        };
        if (length(box.corners[0], box.corners[1]) < 4 ||
            length(box.corners[0], box.corners[3]) < 4)
          return;
        found.boxes.push_back(box);
      });
  if (found.boxes.size() > static_cast<std::size_t>(settings_.maxBoxes)) {
    std::nth_element(found.boxes.begin(), found.boxes.begin() + settings_.maxBoxes,
                     found.boxes.end(),
                     [](const Box& a, const Box& b) { return a.score > b.score; });
    found.boxes.resize(settings_.maxBoxes);
    found.capped = true;
  }
  sortForReading(found.boxes);
  return found;
}

}  // namespace quillmere
