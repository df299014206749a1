// SPDX-License-Identifier: GPL-3.0-or-later
// The face model directory (share/quillmere/FaceModel): face-model.json, which names the
// detector and the embedder and gives their sizes, input ranges and thresholds, and those two
// graphs. Loading checks all of it before any session is made.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillmere {

class FaceModel {
 public:
  // "The face model is missing or damaged."; detail() says what, for logs.
  class Failure : public std::runtime_error {
   public:
    explicit Failure(std::string detail);
    const std::string& detail() const { return detail_; }

   private:
    std::string detail_;
  };

  // Pixel values 0..255 become low..high, channel by channel, in RGB or BGR order.
  struct InputRange {
    float low = -1;
    float high = 1;
    bool bgr = false;
  };
  struct Detector {
    std::filesystem::path file;
    int side = 256;                // the graph's square input
    InputRange range;              // the input's value range
    float scoreThreshold = 0.65f;  // a face needs at least this confidence
    float iouThreshold = 0.3f;     // detections overlapping more are one face
    int tileSide = 512;            // a larger picture is also looked at in tiles of this side
    float minFaceSide = 0.01f;     // narrower boxes, as a share of the picture, are dropped
    // The anchors' grids, finest first: cells along a side, and anchors in each cell.
    std::vector<int> cells{16, 8};
    std::vector<int> anchorsPerCell{2, 6};
  };
  struct Embedder {
    std::filesystem::path file;
    int side = 112;  // the aligned crop's side
    InputRange range;
    int dimension = 192;
    int batch = 16;               // faces embedded in one run
    float sameFaceCosine = 0.5f;  // two vectors of one person are at least this close
    // Where the right eye, left eye, nose and mouth land in the crop, in its pixels.
    std::array<std::array<float, 2>, 4> alignment{
        {{38.2946f, 51.6963f}, {73.5318f, 51.5014f}, {56.0252f, 71.7366f}, {56.1396f, 92.2848f}}};
  };

  // Throws Failure when the description or a graph file is missing or unusable.
  explicit FaceModel(const std::filesystem::path& directory);

  // The resources' FaceModel folder, when there are resources.
  static std::optional<std::filesystem::path> defaultDirectory();

  const std::filesystem::path& directory() const { return directory_; }
  const std::string& name() const { return name_; }
  // The longest side the finder wants a picture at.
  int pictureSide() const { return pictureSide_; }
  int maxFaces() const { return maxFaces_; }
  const Detector& detector() const { return detector_; }
  const Embedder& embedder() const { return embedder_; }

 private:
  std::filesystem::path directory_;
  std::string name_;
  int pictureSide_ = 1280;
  int maxFaces_ = 500;
  Detector detector_;
  Embedder embedder_;
};

}  // namespace quillmere
