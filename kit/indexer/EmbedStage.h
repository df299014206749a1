// SPDX-License-Identifier: GPL-3.0-or-later
// The first stage: the picture's vector, from which a file is found. Its one row per
// picture holds the vector's halves; the indexer stores it as the frame itself.
#pragma once

#include <vector>

#include "core/Records.h"
#include "indexer/Stage.h"

namespace quillmere {

class Embedder;

class EmbedStage : public Stage {
 public:
  static constexpr const char* key = "embed";
  // Pictures per encoder run: ViT-B/16-sized encoders, float and int8, run faster at 4 to 8
  // than at 16 on two cores (bench/run index_photos 3 batches).
  static constexpr std::size_t batch = 8;

  explicit EmbedStage(Embedder& embedder) : embedder_(embedder) {}

  std::string name() const override { return key; }
  std::int64_t pixels() const override;
  std::vector<std::vector<Library::StageRow>> process(
      std::span<const StagePicture> pictures) override;

  // The vector a row of this stage holds.
  static std::vector<Half> vectorOf(const Library::StageRow& row);

 private:
  Embedder& embedder_;
};

}  // namespace quillmere
