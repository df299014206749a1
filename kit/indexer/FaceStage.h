// SPDX-License-Identifier: GPL-3.0-or-later
// The stage that finds the faces in each picture: a picture with faces gets one row holding
// its PictureFaces, encoded; one without gets none, and its file is still marked done. The
// finder's graphs are loaded at the first picture, so a run with nothing to look at costs none.
#pragma once

#include <filesystem>
#include <memory>

#include "index/Library.h"
#include "indexer/Stage.h"

namespace quillmere {

class FaceFinder;

class FaceStage : public Stage {
 public:
  // The face model directory; throws FaceModel::Failure when its description is unusable.
  explicit FaceStage(std::filesystem::path modelDirectory);
  ~FaceStage() override;

  std::string name() const override { return std::string(Library::faceStage); }
  std::int64_t pixels() const override { return pixels_; }
  // A few small graphs a picture: about half an embedding.
  double share() const override { return 0.5; }
  // Throws FaceModel::Failure, and the runtime's errors, when the finder cannot be made.
  std::vector<std::vector<Library::StageRow>> process(
      std::span<const StagePicture> pictures) override;

 private:
  const std::filesystem::path modelDirectory_;
  const std::int64_t pixels_;
  std::unique_ptr<FaceFinder>
      finder_;  // made by the first process(), which calls are one at a time
};

}  // namespace quillmere
