// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/FaceFinding.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "faces/FaceModel.h"
#include "indexer/FaceStage.h"
#include "indexer/Indexer.h"

namespace quillmere {

FaceFinding FaceFinding::open(bool on, std::optional<std::filesystem::path> directory) {
  FaceFinding finding;
  if (!on) return finding;
  if (!directory) {
    const char* chosen = std::getenv("QUILLMERE_FACE_MODEL_DIR");
    directory = chosen && *chosen ? std::filesystem::path(chosen) : FaceModel::defaultDirectory();
  }
  std::error_code error;
  if (!directory || !std::filesystem::exists(*directory, error)) {
    finding.state_ = State::noModel;
    return finding;
  }
  try {
    FaceModel model(*directory);
    finding.directory_ = directory;
    finding.sameFaceCosine_ = model.embedder().sameFaceCosine;
    finding.state_ = State::on;
  } catch (const FaceModel::Failure& failure) {
    finding.state_ = State::modelDamaged;
    finding.detail_ = failure.detail();
  }
  return finding;
}

void FaceFinding::addTo(Indexer& indexer) const {
  if (directory_) indexer.addStage(std::make_shared<FaceStage>(*directory_));
}

FaceGrouping::Settings FaceFinding::grouping() const {
  FaceGrouping::Settings settings;
  if (sameFaceCosine_) {
    settings.cosine = *sameFaceCosine_;
    settings.meanCosine = std::max(settings.meanCosine, *sameFaceCosine_);
  }
  return settings;
}

}  // namespace quillmere
