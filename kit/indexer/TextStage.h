// SPDX-License-Identifier: GPL-3.0-or-later
// The stage that reads the words in each picture: a picture with text gets one row holding
// its PictureText, encoded; one without gets none, and its file is still marked done. The
// reader's graphs are loaded at the first picture, so a run with nothing to read costs none.
#pragma once

#include <filesystem>
#include <memory>

#include "index/Library.h"
#include "indexer/Stage.h"

namespace quillmere {

class TextReader;

class TextStage : public Stage {
 public:
  // The text model directory; throws TextModel::Failure when its description is unusable.
  explicit TextStage(std::filesystem::path modelDirectory);
  ~TextStage() override;

  std::string name() const override { return std::string(Library::textStage); }
  std::int64_t pixels() const override { return pixels_; }
  // Reading a picture costs about twice an embedding where it finds text, little where not.
  double share() const override { return 1.5; }
  // Throws TextModel::Failure, and the runtime's errors, when the reader cannot be made.
  std::vector<std::vector<Library::StageRow>> process(
      std::span<const StagePicture> pictures) override;

 private:
  const std::filesystem::path modelDirectory_;
  const std::int64_t pixels_;
  std::unique_ptr<TextReader>
      reader_;  // made by the first process(), which calls are one at a time
};

}  // namespace quillmere
