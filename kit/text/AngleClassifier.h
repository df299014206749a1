// SPDX-License-Identifier: GPL-3.0-or-later
// The text model's 180° classifier: says which cut-out lines read upside down, so they are
// turned before they are read. Thread-compatible.
#pragma once

#include <span>
#include <vector>

#include "core/Picture.h"
#include "text/TextModel.h"
#include "text/TextSession.h"

namespace quillmere {

class AngleClassifier {
 public:
  // Throws TextModel::Failure when the graph cannot be loaded or gives no two classes.
  explicit AngleClassifier(const TextModel& model);

  // For each upright strip, whether the classifier is sure enough that it reads upside down.
  std::vector<bool> upsideDown(std::span<const Picture> strips);

 private:
  TextModel::Classifier settings_;
  int batch_;
  TextSession::Normalisation normalisation_;
  TextSession session_;
};

}  // namespace quillmere
