// SPDX-License-Identifier: GPL-3.0-or-later
// Finds lines of text in a picture with the text model's detector: a copy bounded in size is
// turned into a map of text probability, whose regions become turned rectangles (the smallest
// around each region, kept when its mean probability is high enough, grown back out by the
// margin the model was trained to leave). A cheap first look at a small size comes first; the
// full pass runs only where a region of it passed a low threshold (it misses little, and
// a photo without text stops there). Thread-compatible.
#pragma once

#include <array>
#include <vector>

#include "core/Picture.h"
#include "platform/ImageCodec.h"
#include "platform/PictureWarp.h"
#include "text/TextModel.h"
#include "text/TextSession.h"

namespace quillmere {

class TextDetector {
 public:
  struct Box {
    // In the picture's pixels: top left, top right, bottom right, bottom left.
    std::array<PictureWarp::Point, 4> corners;
    float score = 0;  // the detector's mean probability inside the box
  };
  struct Found {
    std::vector<Box> boxes;  // in reading order: top to bottom, then left to right
    bool capped = false;     // more boxes than the model's cap: the weakest were left out
  };

  // Throws TextModel::Failure when the detector's graph cannot be loaded.
  explicit TextDetector(const TextModel& model);

  // The first look, then, where it saw text, the full pass.
  Found detect(const Picture& picture);
  // One pass with the copy's longest side at most `side` (a multiple of 32; never enlarged).
  Found detect(const Picture& picture, int side);
  // Whether a pass at `side` finds a region of `pixels` or more above `threshold` anywhere.
  bool mayHoldText(const Picture& picture, int side, float threshold, int pixels);

 private:
  struct Map {
    std::vector<float> probability;
    int width = 0;
    int height = 0;
  };
  Map probabilityMap(const Picture& picture, int side);

  TextModel::Detector settings_;
  TextSession::Normalisation normalisation_;
  TextSession session_;
};

}  // namespace quillmere
