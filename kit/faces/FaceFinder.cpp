// SPDX-License-Identifier: GPL-3.0-or-later
// The face pipeline: detect in a bounded copy, keep the best faces up to the cap, align and
// embed them in batches.
#include "faces/FaceFinder.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>

#include "faces/FaceDetector.h"
#include "faces/FaceEmbedder.h"
#include "faces/FaceModel.h"
#include "platform/ImageCodec.h"

namespace quillmere {
namespace {

FaceRecord::Point normalised(const PictureWarp::Point& p, const Picture& picture) {
  return {static_cast<float>(std::clamp(p.x / picture.width, 0.0, 1.0)),
          static_cast<float>(std::clamp(p.y / picture.height, 0.0, 1.0))};
}

double distance(const PictureWarp::Point& a, const PictureWarp::Point& b) {
  return std::hypot(b.x - a.x, b.y - a.y);
}

}  // namespace

struct FaceFinder::Parts {
  FaceModel model;
  FaceDetector detector;
  FaceEmbedder embedder;

  explicit Parts(const std::filesystem::path& directory)
      : model(directory), detector(model), embedder(model) {}
};

FaceFinder::FaceFinder(const std::filesystem::path& modelDirectory)
    : parts_(std::make_unique<Parts>(modelDirectory)) {}

FaceFinder::~FaceFinder() = default;

std::int64_t FaceFinder::pixels() const {
  return parts_->model.pictureSide();
}

PictureFaces FaceFinder::find(const Picture& picture) {
  if (picture.width <= 0 || picture.height <= 0) return {};
  if (picture.rgb.size() != static_cast<std::size_t>(picture.width) * picture.height * 3)
    throw std::invalid_argument("The picture's pixels do not match its size.");
  std::optional<Picture> reduced;
  const int longest = std::max(picture.width, picture.height);
  const int side = parts_->model.pictureSide();
  if (longest > side) {
    const double scale = static_cast<double>(side) / longest;
    reduced = ImageCodec::resize(picture, std::max(1, static_cast<int>(picture.width * scale)),
                                 std::max(1, static_cast<int>(picture.height * scale)));
    if (!reduced) throw std::runtime_error("The picture could not be resized for finding faces.");
  }
  const Picture& source = reduced ? *reduced : picture;

  std::vector<FaceDetector::Face> found = parts_->detector.detect(source);
  PictureFaces faces;
  const auto cap = static_cast<std::size_t>(parts_->model.maxFaces());
  if (found.size() > cap) {
    found.resize(cap);  // best first: the weakest go
    faces.capped = true;
  }
  std::vector<Picture> crops;
  crops.reserve(found.size());
  for (const auto& face : found) crops.push_back(parts_->embedder.aligned(source, face.keypoints));
  const auto vectors = parts_->embedder.embed(crops);
  for (std::size_t i = 0; i < found.size(); ++i) {
    FaceRecord record;
    for (int p = 0; p < 2; ++p) record.box[p] = normalised(found[i].box[p], source);
    for (int p = 0; p < 6; ++p) record.keypoints[p] = normalised(found[i].keypoints[p], source);
    record.score = found[i].score;
    record.quality =
        quality({found[i].score, static_cast<float>(found[i].box[1].x - found[i].box[0].x),
                 sharpness(crops[i]), frontal(found[i].keypoints)});
    record.vector = halvesFromFloats(vectors[i]);
    faces.faces.push_back(std::move(record));
  }
  return faces;
}

float FaceFinder::quality(const Looks& looks) {
  // Each factor is near 1 for a face good enough to recognise and falls off below: a face 40
  // pixels wide is half as good as a large one, as is a crop whose edges are as soft as
  // a 3-pixel blur leaves them.
  const float size = looks.width / (looks.width + 40.0f);
  const float sharp = looks.sharpness / (looks.sharpness + 60.0f);
  const float value = std::clamp(looks.score, 0.0f, 1.0f) * std::clamp(looks.frontal, 0.0f, 1.0f) *
                      std::sqrt(size * sharp) * 1.3f;
  return std::clamp(value, 0.0f, 1.0f);
}

float FaceFinder::sharpness(const Picture& crop) {
  if (crop.width < 3 || crop.height < 3) return 0;
  const auto grey = [&](int x, int y) {
    const std::uint8_t* p = &crop.rgb[(static_cast<std::size_t>(y) * crop.width + x) * 3];
    return 0.299f * p[0] + 0.587f * p[1] + 0.114f * p[2];
  };
  double sum = 0, squares = 0;
  std::size_t count = 0;
  for (int y = 1; y + 1 < crop.height; ++y) {
    for (int x = 1; x + 1 < crop.width; ++x) {
      const double laplacian =
          grey(x - 1, y) + grey(x + 1, y) + grey(x, y - 1) + grey(x, y + 1) - 4 * grey(x, y);
      sum += laplacian;
      squares += laplacian * laplacian;
      ++count;
    }
  }
  const double mean = sum / count;
  return static_cast<float>(squares / count - mean * mean);
}

float FaceFinder::frontal(const std::array<PictureWarp::Point, 6>& keypoints) {
  // Turned away, the nose comes near one ear and far from the other, and off the eyes' middle.
  const double right = distance(keypoints[2], keypoints[4]);
  const double left = distance(keypoints[2], keypoints[5]);
  if (right + left <= 0) return 0;
  const double ears = std::abs(right - left) / (right + left);
  // The nose's shift along the eyes' line, from their middle, in eye distances: roll-proof.
  const double ex = keypoints[1].x - keypoints[0].x, ey = keypoints[1].y - keypoints[0].y;
  const double eyes = std::hypot(ex, ey);
  const double nx = keypoints[2].x - (keypoints[0].x + keypoints[1].x) / 2;
  const double ny = keypoints[2].y - (keypoints[0].y + keypoints[1].y) / 2;
  const double aside = eyes > 0 ? std::abs(nx * ex + ny * ey) / (eyes * eyes) : 1;
  return static_cast<float>(std::clamp(1.0 - 0.6 * ears - 0.8 * aside, 0.0, 1.0));
}

}  // namespace quillmere
