// SPDX-License-Identifier: GPL-3.0-or-later
// The text model's recogniser: reads cut-out lines in batches of similar width, decoding its
// per-column character probabilities greedily (CTC: repeats merged, blanks dropped).
// Thread-compatible.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "core/Picture.h"
#include "text/TextModel.h"
#include "text/TextSession.h"

namespace quillmere {

class TextRecognizer {
 public:
  struct Reading {
    std::string text;      // UTF-8; empty when nothing was read
    float confidence = 0;  // the mean probability of the characters read
  };

  // Throws TextModel::Failure when the graph cannot be loaded or its classes are not the
  // dictionary's.
  explicit TextRecognizer(const TextModel& model);

  // One reading per strip, in order; strips are at the recogniser's height.
  std::vector<Reading> recognize(std::span<const Picture> strips);

 private:
  std::vector<Reading> recognizeBatch(std::span<const Picture* const> strips);
  Reading decode(const float* steps, std::int64_t count, std::int64_t classes) const;

  TextModel::Recognizer settings_;
  std::vector<std::string> characters_;
  TextSession::Normalisation normalisation_;
  TextSession session_;
};

}  // namespace quillmere
