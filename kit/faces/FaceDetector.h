// SPDX-License-Identifier: GPL-3.0-or-later
// Finds faces with the face model's detector (BlazeFace: a fixed square input, anchors on two
// grids, each with a score and a box with six keypoints as offsets from it). The whole picture
// is looked at once; a picture much larger than the detector's input is also looked at in
// overlapping tiles, where the small faces of a group photo are large enough to be found. All
// the detections are merged by weighted non-maximum suppression. Thread-compatible.
#pragma once

#include <array>
#include <span>
#include <vector>

#include "core/Picture.h"
#include "faces/FaceModel.h"
#include "faces/FaceSession.h"
#include "platform/ImageCodec.h"
#include "platform/PictureWarp.h"

namespace quillmere {

class FaceDetector {
 public:
  struct Face {
    // In the picture's pixels: top left, bottom right; they may lie beyond its edges.
    std::array<PictureWarp::Point, 2> box;
    std::array<PictureWarp::Point, 6> keypoints;  // in FaceRecord's order
    float score = 0;
  };

  // Throws FaceModel::Failure when the graph cannot be loaded or is not such a detector.
  explicit FaceDetector(const FaceModel& model);

  // The faces of an upright picture, best first.
  std::vector<Face> detect(const Picture& picture);
  // The rectangles detect() looks at: the whole picture, then any tiles.
  std::vector<ImageCodec::Rect> views(int width, int height) const;
  // One look at each rectangle of the picture, scaled to fit the detector's input, all in one
  // run of the graph; the faces of each, not merged.
  std::vector<std::vector<Face>> look(const Picture& picture,
                                      std::span<const ImageCodec::Rect> rects);
  // Overlapping faces (intersection over union above `iou`) become one, their boxes and
  // keypoints averaged by score, with the best score; best first.
  static std::vector<Face> merged(std::vector<Face> faces, float iou);
  static float overlap(const Face& a, const Face& b);  // intersection over union of the boxes

 private:
  void decode(const float* scores, const float* boxes, double scale, const ImageCodec::Rect& rect,
              std::vector<Face>& faces) const;

  FaceModel::Detector settings_;
  FaceSession session_;
  std::size_t scoresOutput_ = 0;  // which of the graph's outputs hold what
  std::size_t boxesOutput_ = 0;
};

}  // namespace quillmere
