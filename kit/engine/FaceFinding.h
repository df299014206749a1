// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the faces in pictures as the front ends switch it: the face model directory, checked
// once, and the indexer's face stage that finds them with it. Without a usable model, indexing and
// search go on without faces; state() says why, for the front ends to word once.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "people/FaceGrouping.h"

namespace quillmere {

class Indexer;

class FaceFinding {
 public:
  enum class State {
    on,
    off,           // switched off: the faces found stay
    noModel,       // no face model directory is installed
    modelDamaged,  // the directory is there but cannot be used: detail says why
  };

  // Checks the model's description and files when on (its graphs load at the first picture);
  // directory defaults to QUILLMERE_FACE_MODEL_DIR, else the installed FaceModel.
  static FaceFinding open(bool on, std::optional<std::filesystem::path> directory = std::nullopt);

  State state() const { return state_; }
  const std::string& detail() const { return detail_; }
  // The model directory, when on.
  const std::optional<std::filesystem::path>& directory() const { return directory_; }

  // Gives the indexer its face stage when on: before the indexer's first run.
  void addTo(Indexer& indexer) const;
  // How faces are grouped into people: two faces are close at the model's measured
  // same-person cosine (its vectors share a large common part, so it lies high), and so are
  // two parts of one person. The defaults when off or without a model.
  FaceGrouping::Settings grouping() const;

 private:
  State state_ = State::off;
  std::string detail_;
  std::optional<std::filesystem::path> directory_;
  std::optional<float> sameFaceCosine_;
};

}  // namespace quillmere
