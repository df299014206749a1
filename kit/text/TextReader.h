// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the text in pictures with the text model: the one entry of the reading pipeline
// (detector, cut-out lines, 180° classifier, recogniser) for the indexer and the command line.
// Its graphs' sessions are made once, with the reader, and used for every picture.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "core/Picture.h"
#include "core/PictureText.h"

namespace quillmere {

class TextReader {
 public:
  explicit TextReader(const std::filesystem::path& modelDirectory);  // throws TextModel::Failure
  ~TextReader();
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  // The text in an upright picture (any size), lines in reading order, boxes normalised
  // to the picture. Thread-compatible: one call at a time per reader. A picture larger than
  // pixels() is read from a reduced copy; more boxes than the model's cap set `capped`. An
  // empty picture holds no text; runtime errors pass through.
  PictureText read(const Picture& picture);
  // The longest side it wants the picture at (the indexer decodes once at this size).
  std::int64_t pixels() const;

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace quillmere
