// SPDX-License-Identifier: GPL-3.0-or-later
// The model the user chose last, a small setting shared by the command line and the
// application: one line holding the model directory, in $XDG_CONFIG_HOME/Quillmere/model.
// Imported models live in $XDG_DATA_HOME/Quillmere/Models/<name>.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quillmere {

class ModelChoice {
 public:
  static std::filesystem::path settingFile();
  static std::filesystem::path modelsDirectory();
  // The chosen directory; nothing when no choice is stored (or the setting is empty).
  static std::optional<std::filesystem::path> chosen();
  // Stores the directory, made absolute, replacing the setting in one rename.
  // Throws std::filesystem::filesystem_error when it can't be written.
  static void choose(const std::filesystem::path& directory);
  // Forgets the choice: the built-in model is used again.
  static void forget();
  // A name without a slash is a model in modelsDirectory(); anything else is a directory.
  // Whether directory holds a model (imported or downloaded): its model.json reads and decodes.
  // A folder alone is not enough: an import that stopped or a stray folder holds none.
  static bool holdsModel(const std::filesystem::path& directory);
  static std::filesystem::path resolve(const std::string& nameOrDirectory);
};

}  // namespace quillmere
