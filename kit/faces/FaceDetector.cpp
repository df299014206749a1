// SPDX-License-Identifier: GPL-3.0-or-later
// BlazeFace's decoding: each anchor's offsets are in input pixels from the centre of its cell.
#include "faces/FaceDetector.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace quillmere {
namespace {

constexpr int valuesPerBox = 16;  // centre, size, then six keypoints

float sigmoid(float x) {
  return 1.0f / (1.0f + std::exp(-std::clamp(x, -100.0f, 100.0f)));
}

double area(const FaceDetector::Face& face) {
  return std::max(0.0, face.box[1].x - face.box[0].x) *
         std::max(0.0, face.box[1].y - face.box[0].y);
}

// Whether a face found in a tile is cut by one of the tile's edges inside the picture: the
// whole face lies in a neighbouring tile or the whole view, and only that one is kept.
bool cutByTile(const FaceDetector::Face& face, const ImageCodec::Rect& tile, int width,
               int height) {
  const double margin = 2;
  return (tile.left > 0 && face.box[0].x < tile.left + margin) ||
         (tile.top > 0 && face.box[0].y < tile.top + margin) ||
         (tile.left + tile.width < width && face.box[1].x > tile.left + tile.width - margin) ||
         (tile.top + tile.height < height && face.box[1].y > tile.top + tile.height - margin);
}

// Evenly spread starts of `count` tiles of `tile` pixels over `length`, the last at its end.
std::vector<int> starts(int length, int tile, int overlap) {
  const int count = std::max(
      1, static_cast<int>(std::ceil(static_cast<double>(length - overlap) / (tile - overlap))));
  std::vector<int> at;
  for (int i = 0; i < count; ++i)
    at.push_back(count == 1 ? 0
                            : static_cast<int>(std::lround(static_cast<double>(length - tile) * i /
                                                           (count - 1))));
  return at;
}

}  // namespace

FaceDetector::FaceDetector(const FaceModel& model)
    : settings_(model.detector()), session_(settings_.file) {
  std::int64_t anchors = 0;
  for (std::size_t g = 0; g < settings_.cells.size(); ++g)
    anchors += static_cast<std::int64_t>(settings_.cells[g]) * settings_.cells[g] *
               settings_.anchorsPerCell[g];
  const auto& shapes = session_.outputShapes();
  const auto holds = [&](std::size_t output, std::int64_t values) {
    return shapes[output].size() == 3 && shapes[output][1] == anchors &&
           shapes[output][2] == values;
  };
  bool scores = false, boxes = false;
  for (std::size_t o = 0; o < shapes.size(); ++o) {
    if (holds(o, 1)) scoresOutput_ = o, scores = true;
    if (holds(o, valuesPerBox)) boxesOutput_ = o, boxes = true;
  }
  if (!scores || !boxes)
    throw FaceModel::Failure(settings_.file.string() + " does not give a score and a box for " +
                             std::to_string(anchors) + " anchors");
}

std::vector<ImageCodec::Rect> FaceDetector::views(int width, int height) const {
  std::vector<ImageCodec::Rect> rects{{0, 0, width, height}};
  if (std::max(width, height) < 2 * settings_.side) return rects;
  const int tile = std::min({settings_.tileSide, width, height});
  const int overlap = tile / 4;
  for (int top : starts(height, tile, overlap)) {
    for (int left : starts(width, tile, overlap)) rects.push_back({left, top, tile, tile});
  }
  return rects;
}

std::vector<std::vector<FaceDetector::Face>> FaceDetector::look(
    const Picture& picture, std::span<const ImageCodec::Rect> rects) {
  const int side = settings_.side;
  const std::size_t item = static_cast<std::size_t>(side) * side * 3;
  // The input's padding, right and below, is black.
  std::vector<float> input(item * rects.size(), settings_.range.low);
  std::vector<double> scales;
  for (std::size_t v = 0; v < rects.size(); ++v) {
    const ImageCodec::Rect& rect = rects[v];
    const double scale = static_cast<double>(side) / std::max(rect.width, rect.height);
    const int width = std::clamp(static_cast<int>(std::lround(rect.width * scale)), 1, side);
    const int height = std::clamp(static_cast<int>(std::lround(rect.height * scale)), 1, side);
    const bool whole = rect == ImageCodec::Rect{0, 0, picture.width, picture.height};
    auto part = whole ? std::optional<Picture>() : ImageCodec::region(picture, rect, side);
    if (!whole && !part) throw std::runtime_error("A part of the picture could not be cut out.");
    // A tile comes reduced to the size wanted already, most often.
    const bool fits = part && part->width == width && part->height == height;
    auto sized = fits ? std::move(part)
                      : ImageCodec::resize(whole ? picture : *part, width, height,
                                           ImageCodec::Kernel::linear);
    if (!sized) throw std::runtime_error("The picture could not be resized for finding faces.");
    FaceSession::write(*sized, settings_.range, input, static_cast<int>(v), side);
    scales.push_back(static_cast<double>(width) / rect.width);
  }
  const std::vector<Ort::Value> outputs =
      session_.run(input, static_cast<std::int64_t>(rects.size()), side);
  const float* scores = outputs[scoresOutput_].GetTensorData<float>();
  const float* boxes = outputs[boxesOutput_].GetTensorData<float>();
  const std::size_t anchors = outputs[scoresOutput_].GetTensorTypeAndShapeInfo().GetShape()[1];
  std::vector<std::vector<Face>> faces(rects.size());
  for (std::size_t v = 0; v < rects.size(); ++v)
    decode(scores + v * anchors, boxes + v * anchors * valuesPerBox, scales[v], rects[v], faces[v]);
  return faces;
}

void FaceDetector::decode(const float* scores, const float* boxes, double scale,
                          const ImageCodec::Rect& rect, std::vector<Face>& faces) const {
  // From the detector's input pixels to the picture's.
  const auto place = [&](double x, double y) {
    return PictureWarp::Point{rect.left + x / scale, rect.top + y / scale};
  };
  std::size_t anchor = 0;
  for (std::size_t g = 0; g < settings_.cells.size(); ++g) {
    const int grid = settings_.cells[g];
    const double cell = static_cast<double>(settings_.side) / grid;
    for (int y = 0; y < grid; ++y) {
      for (int x = 0; x < grid; ++x) {
        for (int k = 0; k < settings_.anchorsPerCell[g]; ++k, ++anchor) {
          const float score = sigmoid(scores[anchor]);
          if (score < settings_.scoreThreshold) continue;
          const float* raw = boxes + anchor * valuesPerBox;
          const double cx = (x + 0.5) * cell, cy = (y + 0.5) * cell;
          Face face;
          face.score = score;
          face.box[0] = place(cx + raw[0] - raw[2] / 2, cy + raw[1] - raw[3] / 2);
          face.box[1] = place(cx + raw[0] + raw[2] / 2, cy + raw[1] + raw[3] / 2);
          for (int p = 0; p < 6; ++p)
            face.keypoints[p] = place(cx + raw[4 + 2 * p], cy + raw[5 + 2 * p]);
          if (area(face) > 0) faces.push_back(face);
        }
      }
    }
  }
}

std::vector<FaceDetector::Face> FaceDetector::detect(const Picture& picture) {
  if (picture.width <= 0 || picture.height <= 0) return {};
  if (picture.rgb.size() != static_cast<std::size_t>(picture.width) * picture.height * 3)
    throw std::invalid_argument("The picture's pixels do not match its size.");
  std::vector<Face> all;
  const auto rects = views(picture.width, picture.height);
  const auto found = look(picture, rects);
  for (std::size_t v = 0; v < rects.size(); ++v) {
    for (const Face& face : found[v]) {
      if (v > 0 && cutByTile(face, rects[v], picture.width, picture.height)) continue;
      all.push_back(face);
    }
  }
  std::vector<Face> faces = merged(std::move(all), settings_.iouThreshold);
  const double smallest = settings_.minFaceSide * std::max(picture.width, picture.height);
  std::erase_if(faces, [&](const Face& face) { return face.box[1].x - face.box[0].x < smallest; });
  return faces;
}

float FaceDetector::overlap(const Face& a, const Face& b) {
  const double left = std::max(a.box[0].x, b.box[0].x), right = std::min(a.box[1].x, b.box[1].x);
  const double top = std::max(a.box[0].y, b.box[0].y), bottom = std::min(a.box[1].y, b.box[1].y);
  const double common = std::max(0.0, right - left) * std::max(0.0, bottom - top);
  const double either = area(a) + area(b) - common;
  return either > 0 ? static_cast<float>(common / either) : 0.0f;
}

std::vector<FaceDetector::Face> FaceDetector::merged(std::vector<Face> faces, float iou) {
  std::sort(faces.begin(), faces.end(),
            [](const Face& a, const Face& b) { return a.score > b.score; });
  std::vector<Face> kept;
  std::vector<bool> taken(faces.size(), false);
  for (std::size_t i = 0; i < faces.size(); ++i) {
    if (taken[i]) continue;
    Face sum{};
    double weight = 0;
    for (std::size_t j = i; j < faces.size(); ++j) {
      if (taken[j] || (j != i && overlap(faces[i], faces[j]) <= iou)) continue;
      taken[j] = true;
      const double w = faces[j].score;
      weight += w;
      for (int p = 0; p < 2; ++p) {
        sum.box[p].x += w * faces[j].box[p].x;
        sum.box[p].y += w * faces[j].box[p].y;
      }
      for (int p = 0; p < 6; ++p) {
        sum.keypoints[p].x += w * faces[j].keypoints[p].x;
        sum.keypoints[p].y += w * faces[j].keypoints[p].y;
      }
    }
    for (auto& point : sum.box) point = {point.x / weight, point.y / weight};
    for (auto& point : sum.keypoints) point = {point.x / weight, point.y / weight};
    sum.score = faces[i].score;
    kept.push_back(sum);
  }
  return kept;
}

}  // namespace quillmere
