// SPDX-License-Identifier: GPL-3.0-or-later
#include "indexer/EmbedStage.h"

#include <algorithm>

#include "model/Embedder.h"
#include "scan/FrameSampler.h"

namespace quillmere {

std::int64_t EmbedStage::pixels() const {
  return FrameSampler::embedPixels;
}

std::vector<std::vector<Library::StageRow>> EmbedStage::process(
    std::span<const StagePicture> pictures) {
  std::vector<std::vector<Library::StageRow>> rows;
  rows.reserve(pictures.size());
  std::vector<Picture> images;
  for (std::size_t first = 0; first < pictures.size(); first += batch) {
    const std::size_t count = std::min(batch, pictures.size() - first);
    images.clear();
    for (std::size_t k = first; k < first + count; ++k) images.push_back(pictures[k].image);
    const std::vector<std::vector<Half>> vectors = embedder_.embed(images);
    if (vectors.size() != count) throw Embedder::Failure::output();
    for (std::size_t k = 0; k < count; ++k) {
      rows.push_back({{.time = pictures[first + k].time, .data = encodeVector(vectors[k])}});
    }
  }
  return rows;
}

std::vector<Half> EmbedStage::vectorOf(const Library::StageRow& row) {
  return decodeVector(row.data.data(), row.data.size(), row.data.size() / 2)
      .value_or(std::vector<Half>{});
}

}  // namespace quillmere
