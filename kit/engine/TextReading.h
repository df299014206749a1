// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the text in pictures as the front ends switch it: the text model directory, checked
// once, and the indexer's text stage that reads with it. Without a usable model, indexing and
// search go on without text; state() says why, for the front ends to word once.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace quillmere {

class Indexer;

class TextReading {
 public:
  enum class State {
    on,
    off,           // switched off: what was read stays
    noModel,       // no text model directory is installed
    modelDamaged,  // the directory is there but cannot be used: detail says why
  };

  // Checks the model's description and files when on (its graphs load at the first picture);
  // directory defaults to QUILLMERE_TEXT_MODEL_DIR, else the installed TextModel.
  static TextReading open(bool on, std::optional<std::filesystem::path> directory = std::nullopt);

  State state() const { return state_; }
  const std::string& detail() const { return detail_; }
  // The model directory, when on.
  const std::optional<std::filesystem::path>& directory() const { return directory_; }

  // Gives the indexer its text stage when on: before the indexer's first run.
  void addTo(Indexer& indexer) const;

 private:
  State state_ = State::off;
  std::string detail_;
  std::optional<std::filesystem::path> directory_;
};

}  // namespace quillmere
