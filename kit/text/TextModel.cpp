// SPDX-License-Identifier: GPL-3.0-or-later
// Reads and checks the text model directory.
#include "text/TextModel.h"

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "platform/ResourceLocator.h"

namespace quillmere {
namespace {

std::string readFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw TextModel::Failure(path.string() + " cannot be read");
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) throw TextModel::Failure(path.string() + " cannot be read");
  return bytes;
}

std::filesystem::path modelFile(const std::filesystem::path& directory,
                                const nlohmann::json& part) {
  const std::string name = part.at("file").get<std::string>();
  const std::filesystem::path path = directory / name;
  std::error_code error;
  if (name.empty() || name.find('/') != std::string::npos ||
      !std::filesystem::is_regular_file(path, error))
    throw TextModel::Failure(path.string() + " is missing");
  return path;
}

bool multipleOf32(int side) {
  return side >= 32 && side % 32 == 0;
}

// One character a line; a file that ends in a newline has no empty character after it.
std::vector<std::string> dictionaryLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

}  // namespace

TextModel::Failure::Failure(std::string detail)
    : std::runtime_error("The text model is missing or damaged."), detail_(std::move(detail)) {}

TextModel::TextModel(const std::filesystem::path& directory) : directory_(directory) {
  const std::filesystem::path description = directory / "text-model.json";
  std::error_code error;
  if (!std::filesystem::is_regular_file(description, error))
    throw Failure(description.string() + " is missing");
  try {
    const nlohmann::json json = nlohmann::json::parse(readFile(description));
    name_ = json.at("name").get<std::string>();
    pictureSide_ = json.at("pictureSide").get<int>();
    bgr_ = json.value("channels", std::string("BGR")) == "BGR";

    const auto& detector = json.at("detector");
    detector_.file = modelFile(directory, detector);
    detector_.side = detector.at("side").get<int>();
    detector_.firstLookSide = detector.value("firstLookSide", 0);
    detector_.firstLookThreshold = detector.value("firstLookThreshold", 0.3f);
    detector_.firstLookPixels = detector.value("firstLookPixels", 4);
    detector_.mean = detector.at("mean").get<std::array<float, 3>>();
    detector_.std = detector.at("std").get<std::array<float, 3>>();
    detector_.threshold = detector.at("threshold").get<float>();
    detector_.boxScore = detector.at("boxScore").get<float>();
    detector_.unclipRatio = detector.at("unclipRatio").get<float>();
    detector_.minBoxSize = detector.at("minBoxSize").get<int>();
    detector_.maxBoxes = detector.at("maxBoxes").get<int>();

    const auto& classifier = json.at("classifier");
    classifier_.file = modelFile(directory, classifier);
    classifier_.height = classifier.at("height").get<int>();
    classifier_.width = classifier.at("width").get<int>();
    classifier_.threshold = classifier.at("threshold").get<float>();

    const auto& recognizer = json.at("recognizer");
    recognizer_.file = modelFile(directory, recognizer);
    recognizer_.dictionary = modelFile(directory, {{"file", recognizer.at("dictionary")}});
    recognizer_.classes = recognizer.at("classes").get<int>();
    recognizer_.height = recognizer.at("height").get<int>();
    recognizer_.minWidth = recognizer.at("minWidth").get<int>();
    recognizer_.maxWidth = recognizer.at("maxWidth").get<int>();
    recognizer_.batch = recognizer.at("batch").get<int>();
    recognizer_.dropConfidence = recognizer.at("dropConfidence").get<float>();
  } catch (const nlohmann::json::exception& malformed) {
    throw Failure(description.string() + ": " + malformed.what());
  }
  const bool sizesFit = multipleOf32(detector_.side) &&
                        (detector_.firstLookSide == 0 || multipleOf32(detector_.firstLookSide)) &&
                        detector_.firstLookThreshold >= 0 && detector_.firstLookThreshold < 1 &&
                        detector_.firstLookPixels >= 1 && pictureSide_ >= detector_.side &&
                        detector_.maxBoxes >= 1 && classifier_.height >= 1 &&
                        classifier_.width >= 1 && recognizer_.height >= 1 &&
                        recognizer_.batch >= 1 && recognizer_.maxWidth >= recognizer_.minWidth &&
                        recognizer_.minWidth >= 1;
  if (!sizesFit) throw Failure(description.string() + " gives sizes the models cannot take");
  for (float deviation : detector_.std) {
    if (!(deviation > 0)) throw Failure(description.string() + " gives a zero deviation");
  }

  characters_ = {""};
  for (auto& line : dictionaryLines(readFile(recognizer_.dictionary)))
    characters_.push_back(std::move(line));
  characters_.push_back(" ");
  if (static_cast<int>(characters_.size()) != recognizer_.classes) {
    throw Failure(recognizer_.dictionary.string() + " holds " +
                  std::to_string(characters_.size() - 2) + " characters for " +
                  std::to_string(recognizer_.classes) + " classes");
  }
}

std::optional<std::filesystem::path> TextModel::defaultDirectory() {
  auto resources = ResourceLocator::resourcesDirectory();
  if (!resources) return std::nullopt;
  return *resources / "TextModel";
}

}  // namespace quillmere
