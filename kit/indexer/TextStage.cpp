// SPDX-License-Identifier: GPL-3.0-or-later
#include "indexer/TextStage.h"

#include "text/TextModel.h"
#include "text/TextReader.h"

namespace quillmere {

TextStage::TextStage(std::filesystem::path modelDirectory)
    : modelDirectory_(std::move(modelDirectory)),
      pixels_(TextModel(modelDirectory_).pictureSide()) {}

TextStage::~TextStage() = default;

std::vector<std::vector<Library::StageRow>> TextStage::process(
    std::span<const StagePicture> pictures) {
  if (!reader_) reader_ = std::make_unique<TextReader>(modelDirectory_);
  std::vector<std::vector<Library::StageRow>> rows(pictures.size());
  for (std::size_t k = 0; k < pictures.size(); ++k) {
    const PictureText text = reader_->read(pictures[k].image);
    if (text.lines.empty()) continue;
    rows[k].push_back({.time = pictures[k].time, .data = text.encoded()});
  }
  return rows;
}

}  // namespace quillmere
