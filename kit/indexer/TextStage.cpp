// SPDX-License-Identifier: GPL-3.0-or-later
#include "indexer/TextStage.h"

#include "text/TextReader.h"

namespace quillmere {

std::int64_t TextStage::pixels() const {
  return reader_->pixels();
}

std::vector<std::vector<Library::StageRow>> TextStage::process(
    std::span<const StagePicture> pictures) {
  std::vector<std::vector<Library::StageRow>> rows(pictures.size());
  for (std::size_t k = 0; k < pictures.size(); ++k) {
    const PictureText text = reader_->read(pictures[k].image);
    if (text.lines.empty()) continue;
    rows[k].push_back({.time = pictures[k].time, .data = text.encoded()});
  }
  return rows;
}

}  // namespace quillmere
