// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/TextReading.h"

#include <cstdlib>
#include <system_error>

#include "indexer/Indexer.h"
#include "indexer/TextStage.h"
#include "text/TextModel.h"

namespace quillmere {

TextReading TextReading::open(bool on, std::optional<std::filesystem::path> directory) {
  TextReading reading;
  if (!on) return reading;
  if (!directory) {
    const char* chosen = std::getenv("QUILLMERE_TEXT_MODEL_DIR");
    directory = chosen && *chosen ? std::filesystem::path(chosen) : TextModel::defaultDirectory();
  }
  std::error_code error;
  if (!directory || !std::filesystem::exists(*directory, error)) {
    reading.state_ = State::noModel;
    return reading;
  }
  try {
    TextModel model(*directory);
    reading.directory_ = directory;
    reading.state_ = State::on;
  } catch (const TextModel::Failure& failure) {
    reading.state_ = State::modelDamaged;
    reading.detail_ = failure.detail();
  }
  return reading;
}

void TextReading::addTo(Indexer& indexer) const {
  if (directory_) indexer.addStage(std::make_shared<TextStage>(*directory_));
}

}  // namespace quillmere
