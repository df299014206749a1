// SPDX-License-Identifier: GPL-3.0-or-later
// The stage that reads the words in each picture: a picture with text gets one row holding
// its PictureText, encoded; one without gets none, and its file is still marked done.
#pragma once

#include <memory>

#include "index/Library.h"
#include "indexer/Stage.h"

namespace quillmere {

class TextReader;

class TextStage : public Stage {
 public:
  explicit TextStage(std::shared_ptr<TextReader> reader) : reader_(std::move(reader)) {}

  std::string name() const override { return std::string(Library::textStage); }
  std::int64_t pixels() const override;
  // Reading a picture costs about twice an embedding where it finds text, little where not.
  double share() const override { return 1.5; }
  std::vector<std::vector<Library::StageRow>> process(
      std::span<const StagePicture> pictures) override;

 private:
  std::shared_ptr<TextReader> reader_;
};

}  // namespace quillmere
