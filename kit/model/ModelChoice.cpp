// SPDX-License-Identifier: GPL-3.0-or-later
// The setting file that names the model the user chose, read and written.
#include "model/ModelChoice.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "model/ModelInfo.h"
#include "platform/AtomicFile.h"

namespace quillmere {
namespace {

// An XDG base directory: the variable when it holds an absolute path, else ~/<fallback>.
std::filesystem::path baseDirectory(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  if (value && value[0] == '/') return value;
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home ? home : "/") / fallback;
}

}  // namespace

std::filesystem::path ModelChoice::settingFile() {
  return baseDirectory("XDG_CONFIG_HOME", ".config") / "Quillmere" / "model";
}

std::filesystem::path ModelChoice::modelsDirectory() {
  return baseDirectory("XDG_DATA_HOME", ".local/share") / "Quillmere" / "Models";
}

std::optional<std::filesystem::path> ModelChoice::chosen() {
  std::ifstream file(settingFile());
  std::string line;
  if (!file || !std::getline(file, line) || line.empty()) return std::nullopt;
  return std::filesystem::path(line);
}

void ModelChoice::choose(const std::filesystem::path& directory) {
  const auto file = settingFile();
  std::filesystem::create_directories(file.parent_path());
  try {
    AtomicFile::write(file,
                      std::filesystem::absolute(directory).lexically_normal().string() + '\n');
  } catch (const AtomicFile::WriteFailed&) {
    throw std::filesystem::filesystem_error("cannot write the model setting", file,
                                            std::make_error_code(std::errc::io_error));
  }
}

bool ModelChoice::holdsModel(const std::filesystem::path& directory) {
  std::ifstream file(directory / "model.json", std::ios::binary);
  if (!file) return false;
  const std::string json((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  try {
    ModelInfo::decode(json);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

void ModelChoice::forget() {
  std::error_code ignored;
  std::filesystem::remove(settingFile(), ignored);
}

std::filesystem::path ModelChoice::resolve(const std::string& nameOrDirectory) {
  if (nameOrDirectory.find('/') == std::string::npos && nameOrDirectory != "." &&
      nameOrDirectory != "..") {
    return modelsDirectory() / nameOrDirectory;
  }
  return std::filesystem::absolute(nameOrDirectory).lexically_normal();
}

}  // namespace quillmere
