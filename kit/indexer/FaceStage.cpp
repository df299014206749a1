// SPDX-License-Identifier: GPL-3.0-or-later
#include "indexer/FaceStage.h"

#include "faces/FaceFinder.h"
#include "faces/FaceModel.h"

namespace quillmere {

FaceStage::FaceStage(std::filesystem::path modelDirectory)
    : modelDirectory_(std::move(modelDirectory)),
      pixels_(FaceModel(modelDirectory_).pictureSide()) {}

FaceStage::~FaceStage() = default;

std::vector<std::vector<Library::StageRow>> FaceStage::process(
    std::span<const StagePicture> pictures) {
  if (!finder_) finder_ = std::make_unique<FaceFinder>(modelDirectory_);
  std::vector<std::vector<Library::StageRow>> rows(pictures.size());
  for (std::size_t k = 0; k < pictures.size(); ++k) {
    const PictureFaces faces = finder_->find(pictures[k].image);
    if (faces.faces.empty()) continue;
    rows[k].push_back({.time = pictures[k].time, .data = faces.encoded()});
  }
  return rows;
}

}  // namespace quillmere
