// SPDX-License-Identifier: GPL-3.0-or-later
// The indexer's stages in the order they run, the embedder first, each with whether it is
// on: running them over decoded pictures, and giving the files indexed before a stage
// existed (or while it was off) that stage's rows.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Records.h"
#include "core/ThreadAnnotations.h"
#include "index/Library.h"
#include "indexer/EmbedStage.h"

namespace quillmere {

class StageSet {
 public:
  // The stages' rows of the pictures; the embedder's are its vectors.
  struct Output {
    std::vector<std::vector<Half>> vectors;               // per picture
    std::vector<std::vector<Library::StageRows>> others;  // per picture, per stage
    std::vector<std::string> names;  // of the stages after the embedder, in that order
  };

  explicit StageSet(Embedder& embedder);
  StageSet(const StageSet&) = delete;
  StageSet& operator=(const StageSet&) = delete;

  void add(std::shared_ptr<Stage> stage);  // after the others, on
  // The embedder stays on whatever is asked.
  void turn(std::string_view name, bool on);
  // The largest picture a stage that is on asks for.
  std::int64_t pixels() const;
  // The shares of the stages that are on, together.
  double share() const;
  // Runs the stages that are on over the pictures, each given them no larger than it asks.
  // Throws what a stage throws, and Embedder::Failure when a stage answers for too few or
  // too many pictures.
  Output run(std::span<const StagePicture> pictures) const;
  // Gives the indexed files of the folders (by id, with where they are read) that lack a
  // stage that is on its rows: their pictures decoded again, nothing embedded. A file that
  // fails keeps what it has, for the next run. Before each file, beforeFile is told the
  // stage and how many of its files are done (a pause may wait there).
  using BeforeFile = std::function<void(const std::string& stage, int done, int total)>;
  void fill(Library& library, const std::map<std::int64_t, std::filesystem::path>& roots,
            std::stop_token stop, const BeforeFile& beforeFile) const;

 private:
  std::vector<std::shared_ptr<Stage>> on() const;
  static void fillOne(Library& library, Stage& stage, const MediaFile& file,
                      const std::filesystem::path& filePath);

  EmbedStage embed_;
  mutable Mutex lock_;
  std::vector<std::pair<std::shared_ptr<Stage>, bool>> stages_ GUARDED_BY(lock_);
};

}  // namespace quillmere
