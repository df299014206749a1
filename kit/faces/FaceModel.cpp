// SPDX-License-Identifier: GPL-3.0-or-later
// Reads and checks the face model directory.
#include "faces/FaceModel.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "platform/ResourceLocator.h"

namespace quillmere {
namespace {

std::string readFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw FaceModel::Failure(path.string() + " cannot be read");
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) throw FaceModel::Failure(path.string() + " cannot be read");
  return bytes;
}

std::filesystem::path modelFile(const std::filesystem::path& directory,
                                const nlohmann::json& part) {
  const std::string name = part.at("file").get<std::string>();
  const std::filesystem::path path = directory / name;
  std::error_code error;
  if (name.empty() || name.find('/') != std::string::npos ||
      !std::filesystem::is_regular_file(path, error))
    throw FaceModel::Failure(path.string() + " is missing");
  return path;
}

FaceModel::InputRange inputRange(const nlohmann::json& part) {
  FaceModel::InputRange range;
  const auto values = part.value("inputRange", std::array<float, 2>{-1, 1});
  range.low = values[0];
  range.high = values[1];
  range.bgr = part.value("channels", std::string("RGB")) == "BGR";
  return range;
}

}  // namespace

FaceModel::Failure::Failure(std::string detail)
    : std::runtime_error("The face model is missing or damaged."), detail_(std::move(detail)) {}

FaceModel::FaceModel(const std::filesystem::path& directory) : directory_(directory) {
  const std::filesystem::path description = directory / "face-model.json";
  std::error_code error;
  if (!std::filesystem::is_regular_file(description, error))
    throw Failure(description.string() + " is missing");
  try {
    const nlohmann::json json = nlohmann::json::parse(readFile(description));
    name_ = json.at("name").get<std::string>();
    pictureSide_ = json.value("pictureSide", pictureSide_);
    maxFaces_ = json.value("maxFaces", maxFaces_);

    const auto& detector = json.at("detector");
    detector_.file = modelFile(directory, detector);
    detector_.side = detector.at("side").get<int>();
    detector_.range = inputRange(detector);
    detector_.scoreThreshold = detector.value("scoreThreshold", detector_.scoreThreshold);
    detector_.iouThreshold = detector.value("iouThreshold", detector_.iouThreshold);
    detector_.tileSide = detector.value("tileSide", detector_.tileSide);
    detector_.minFaceSide = detector.value("minFaceSide", detector_.minFaceSide);
    if (detector.contains("anchors")) {
      detector_.cells = detector["anchors"].at("cells").get<std::vector<int>>();
      detector_.anchorsPerCell = detector["anchors"].at("anchorsPerCell").get<std::vector<int>>();
    }

    const auto& embedder = json.at("embedder");
    embedder_.file = modelFile(directory, embedder);
    embedder_.side = embedder.at("side").get<int>();
    embedder_.range = inputRange(embedder);
    embedder_.dimension = embedder.at("dimension").get<int>();
    embedder_.batch = embedder.value("batch", embedder_.batch);
    embedder_.sameFaceCosine = embedder.value("sameFaceCosine", embedder_.sameFaceCosine);
    embedder_.alignment = embedder.value("alignment", embedder_.alignment);
  } catch (const nlohmann::json::exception& malformed) {
    throw Failure(description.string() + ": " + malformed.what());
  }
  const bool sizesFit = detector_.side >= 16 && pictureSide_ >= detector_.side &&
                        detector_.tileSide >= detector_.side && maxFaces_ >= 1 &&
                        embedder_.side >= 16 && embedder_.dimension >= 1 && embedder_.batch >= 1 &&
                        detector_.scoreThreshold > 0 && detector_.scoreThreshold < 1 &&
                        detector_.iouThreshold > 0 && detector_.iouThreshold < 1;
  const bool anchorsFit =
      !detector_.cells.empty() && detector_.cells.size() == detector_.anchorsPerCell.size() &&
      std::ranges::all_of(detector_.cells, [](int n) { return n >= 1; }) &&
      std::ranges::all_of(detector_.anchorsPerCell, [](int n) { return n >= 1; });
  if (!sizesFit || !anchorsFit)
    throw Failure(description.string() + " gives sizes the models cannot take");
}

std::optional<std::filesystem::path> FaceModel::defaultDirectory() {
  auto resources = ResourceLocator::resourcesDirectory();
  if (!resources) return std::nullopt;
  return *resources / "FaceModel";
}

}  // namespace quillmere
