// SPDX-License-Identifier: GPL-3.0-or-later
// The text model directory (share/quillmere/TextModel): text-model.json, which names the
// detector, the 180° classifier, the recogniser and its dictionary and gives their sizes and
// thresholds, and those four files. Loading checks all of it before any session is made.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillmere {

class TextModel {
 public:
  // "The text model is missing or damaged."; detail() says what, for logs.
  class Failure : public std::runtime_error {
   public:
    explicit Failure(std::string detail);
    const std::string& detail() const { return detail_; }

   private:
    std::string detail_;
  };

  struct Detector {
    std::filesystem::path file;
    int side = 1280;                  // longest side of the detector's copy, a multiple of 32
    int firstLookSide = 480;          // the cheap pass that decides whether the full one runs
    int firstLookPixels = 4;          // the smallest region above it that counts, in look pixels
    float firstLookThreshold = 0.3f;  // a probability anywhere above it sends on to the full pass
    std::array<float, 3> mean{};      // per channel, in the model's channel order
    std::array<float, 3> std{};
    float threshold = 0.3f;    // probability that makes a pixel text
    float boxScore = 0.6f;     // mean probability a box needs
    float unclipRatio = 1.5f;  // how far a box grows back out: area * ratio / perimeter
    int minBoxSize = 3;        // shortest side, in detector pixels
    int maxBoxes = 500;        // boxes read at most in one picture
  };
  struct Classifier {
    std::filesystem::path file;
    int height = 48;
    int width = 192;
    float threshold = 0.9f;  // confidence needed to turn a line upside down
  };
  struct Recognizer {
    std::filesystem::path file;
    std::filesystem::path dictionary;
    int classes = 0;  // blank, the dictionary's characters, then the space
    int height = 48;
    int minWidth = 320;   // a batch is at least this wide
    int maxWidth = 3200;  // a line longer than this is squeezed
    int batch = 6;
    float dropConfidence = 0.5f;  // lines read with less are dropped
  };

  // Throws Failure when the description, a file, or the dictionary's size is wrong.
  explicit TextModel(const std::filesystem::path& directory);

  // The resources' TextModel folder, when there are resources.
  static std::optional<std::filesystem::path> defaultDirectory();

  const std::filesystem::path& directory() const { return directory_; }
  const std::string& name() const { return name_; }
  int pictureSide() const { return pictureSide_; }
  // Whether the models take blue, green, red rather than red, green, blue.
  bool bgr() const { return bgr_; }
  const Detector& detector() const { return detector_; }
  const Classifier& classifier() const { return classifier_; }
  const Recognizer& recognizer() const { return recognizer_; }
  // The recogniser's characters: index 0 is the blank, then the dictionary, then " ".
  const std::vector<std::string>& characters() const { return characters_; }

 private:
  std::filesystem::path directory_;
  std::string name_;
  int pictureSide_ = 1920;
  bool bgr_ = true;
  Detector detector_;
  Classifier classifier_;
  Recognizer recognizer_;
  std::vector<std::string> characters_;
};

}  // namespace quillmere
