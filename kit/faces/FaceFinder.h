// SPDX-License-Identifier: GPL-3.0-or-later
// Finds the faces in pictures with the face model: the one entry of the face pipeline
// (detector, alignment, embedder) for the indexer and the command line. Its graphs' sessions
// are made once, with the finder, and used for every picture.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "core/Picture.h"
#include "core/PictureFaces.h"
#include "platform/PictureWarp.h"

namespace quillmere {

class FaceFinder {
 public:
  explicit FaceFinder(const std::filesystem::path& modelDirectory);  // throws FaceModel::Failure
  ~FaceFinder();
  FaceFinder(const FaceFinder&) = delete;
  FaceFinder& operator=(const FaceFinder&) = delete;

  // The faces of an upright picture (any size), best first, with boxes and keypoints in 0..1
  // of the picture. Thread-compatible: one call at a time per finder. A picture larger than
  // pixels() is looked at in a reduced copy; more faces than the model's cap set `capped`. An
  // empty picture holds no faces; runtime errors pass through.
  PictureFaces find(const Picture& picture);
  // The longest side it wants the picture at (the indexer decodes once at this size).
  std::int64_t pixels() const;

  struct Looks {
    float score = 0;      // the detector's confidence
    float width = 0;      // the face's width in pixels of the picture looked at
    float sharpness = 0;  // variance of the aligned crop's Laplacian
    float frontal = 0;    // 1 looking straight on, 0 in profile: from the keypoints' symmetry
  };
  // 0..1: high for a confident, large, sharp, frontal face; people are formed from high ones.
  static float quality(const Looks& looks);
  static float sharpness(const Picture& crop);
  static float frontal(const std::array<PictureWarp::Point, 6>& keypoints);  // in pixels

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace quillmere
