// SPDX-License-Identifier: GPL-3.0-or-later
// The reading pipeline, a few dozen lines at a time so memory stays that of one group.
#include "text/TextReader.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <stdexcept>

#include "platform/ImageCodec.h"
#include "platform/PictureWarp.h"
#include "text/AngleClassifier.h"
#include "text/TextDetector.h"
#include "text/TextModel.h"
#include "text/TextRecognizer.h"

namespace quillmere {
namespace {

// Lines cut out and read together.
constexpr std::size_t group = 48;

using Corners = std::array<PictureWarp::Point, 4>;

double length(const PictureWarp::Point& a, const PictureWarp::Point& b) {
  return std::hypot(b.x - a.x, b.y - a.y);
}

// A box much taller than wide reads top to bottom: its right edge becomes the strip's top.
Corners asItReads(const Corners& box) {
  if (length(box[0], box[3]) < 1.5 * length(box[0], box[1])) return box;
  return {box[1], box[2], box[3], box[0]};
}

Corners turnedHalfway(const Corners& box) {
  return {box[2], box[3], box[0], box[1]};
}

TextLine::Point normalised(const PictureWarp::Point& p, const Picture& picture) {
  return {static_cast<float>(std::clamp(p.x / picture.width, 0.0, 1.0)),
          static_cast<float>(std::clamp(p.y / picture.height, 0.0, 1.0))};
}

}  // namespace

struct TextReader::Parts {
  TextModel model;
  TextDetector detector;
  AngleClassifier classifier;
  TextRecognizer recognizer;

  explicit Parts(const std::filesystem::path& directory)
      : model(directory), detector(model), classifier(model), recognizer(model) {}

  // Reads the boxes of one group and appends the lines it keeps.
  void readGroup(const Picture& picture, std::span<const TextDetector::Box> boxes,
                 std::vector<TextLine>& lines) {
    const int height = model.recognizer().height;
    const int maxWidth = model.recognizer().maxWidth;
    std::vector<Corners> corners;
    std::vector<Picture> strips;
    for (const auto& box : boxes) {
      Corners reading = asItReads(box.corners);
      auto strip = PictureWarp::cut(picture, reading, height, maxWidth);
      if (!strip) continue;  // a box with no area holds no text
      corners.push_back(reading);
      strips.push_back(std::move(*strip));
    }
    const std::vector<bool> upsideDown = classifier.upsideDown(strips);
    for (std::size_t i = 0; i < strips.size(); ++i) {
      if (!upsideDown[i]) continue;
      auto turned = PictureWarp::cut(picture, turnedHalfway(corners[i]), height, maxWidth);
      if (!turned) continue;
      corners[i] = turnedHalfway(corners[i]);
      strips[i] = std::move(*turned);
    }
    const auto readings = recognizer.recognize(strips);
    for (std::size_t i = 0; i < readings.size(); ++i) {
      const auto& reading = readings[i];
      const bool blank = reading.text.find_first_not_of(' ') == std::string::npos;
      if (blank || reading.confidence < model.recognizer().dropConfidence) continue;
      TextLine line{reading.text, {}, reading.confidence};
      for (std::size_t k = 0; k < 4; ++k) line.box[k] = normalised(corners[i][k], picture);
      lines.push_back(std::move(line));
    }
  }
};

TextReader::TextReader(const std::filesystem::path& modelDirectory)
    : parts_(std::make_unique<Parts>(modelDirectory)) {}

TextReader::~TextReader() = default;

std::int64_t TextReader::pixels() const {
  return parts_->model.pictureSide();
}

PictureText TextReader::read(const Picture& picture) {
  if (picture.width <= 0 || picture.height <= 0) return {};
  if (picture.rgb.size() != static_cast<std::size_t>(picture.width) * picture.height * 3)
    throw std::invalid_argument("The picture's pixels do not match its size.");
  // A larger picture is read from a copy of the size the reader wants: memory stays bounded.
  std::optional<Picture> reduced;
  const int longest = std::max(picture.width, picture.height);
  const int side = parts_->model.pictureSide();
  if (longest > side) {
    const double scale = static_cast<double>(side) / longest;
    reduced = ImageCodec::resize(picture, std::max(1, static_cast<int>(picture.width * scale)),
                                 std::max(1, static_cast<int>(picture.height * scale)));
    if (!reduced) throw std::runtime_error("The picture could not be resized for reading.");
  }
  const Picture& source = reduced ? *reduced : picture;

  const TextDetector::Found found = parts_->detector.detect(source);
  PictureText text;
  text.capped = found.capped;
  const std::span<const TextDetector::Box> boxes(found.boxes);
  for (std::size_t start = 0; start < boxes.size(); start += group) {
    parts_->readGroup(source, boxes.subspan(start, std::min(group, boxes.size() - start)),
                      text.lines);
  }
  return text;
}

}  // namespace quillmere
