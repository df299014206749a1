// SPDX-License-Identifier: GPL-3.0-or-later
// Import of a published ONNX image-text model into a model directory the engine reads.
#include "catalogue/ModelImport.h"

#include <glib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>

#include "catalogue/FileDigest.h"
#include "catalogue/Float16Upcast.h"
#include "catalogue/HFTokenizerConverter.h"
#include "model/Embedder.h"
#include "model/ModelChoice.h"
#include "model/PictureFitter.h"
#include "platform/AtomicFile.h"

namespace quillmere {
namespace {

using Json = nlohmann::json;
using Reason = ModelImport::Refusal::Reason;
using Note = ModelImport::Note;

// The starting values of SigLIP training; an export carries no trained pair.
constexpr float familyLogitScale = 10.0f;
constexpr float familyLogitBias = -10.0f;

bool present(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (!file && !file.eof()) throw ModelImport::Refusal(Reason::cannotRead, {.path = path.string()});
  return bytes;
}

Json readJSON(const std::filesystem::path& path) {
  try {
    return Json::parse(readFile(path));
  } catch (const Json::exception& error) {
    throw ModelImport::Refusal(Reason::notJSON, {.path = path.string(), .detail = error.what()});
  }
}

// The integer at a path of keys, or `fallback` when any step is absent.
std::int64_t integerAt(const Json& root, std::initializer_list<const char*> keys,
                       std::int64_t fallback) {
  const Json* node = &root;
  for (const char* key : keys) {
    if (!node->is_object() || !node->contains(key)) return fallback;
    node = &(*node)[key];
  }
  if (node->is_array() && !node->empty()) node = &node->front();
  return node->is_number_integer() ? node->get<std::int64_t>() : fallback;
}

std::array<float, 3> triple(const Json& root, const char* key, float fallback) {
  std::array<float, 3> values{fallback, fallback, fallback};
  if (!root.contains(key)) return values;
  const Json& array = root[key];
  if (!array.is_array() || array.size() != 3) {
    throw ModelImport::Refusal(Reason::notThreeNumbers, {.name = key});
  }
  for (std::size_t c = 0; c < 3; ++c) values[c] = array[c].get<float>();
  return values;
}

std::string interpolationOf(int pillowResample) {
  switch (pillowResample) {
    case 0:
      return "nearest";
    case 1:
      return "lanczos";
    case 3:
      return "bicubic";
    case 4:
      return "box";
    case 5:
      return "hamming";
    default:
      return "bilinear";
  }
}

// The token's id, from a name in tokenizer_config.json (a string or {"content": ...}).
std::optional<std::int32_t> specialId(const HFTokenizerConverter& converter, const Json& config,
                                      const char* key) {
  if (!config.contains(key)) return std::nullopt;
  const Json& value = config[key];
  if (value.is_string()) return converter.idOf(value.get<std::string>());
  if (value.is_object() && value.contains("content") && value["content"].is_string()) {
    return converter.idOf(value["content"].get<std::string>());
  }
  return std::nullopt;
}

std::int32_t firstId(const HFTokenizerConverter& converter, std::optional<std::int32_t> configured,
                     std::initializer_list<const char*> names) {
  if (configured) return *configured;
  for (const char* name : names) {
    if (auto id = converter.idOf(name)) return *id;
  }
  return 0;
}

void link(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::error_code error;
  std::filesystem::create_hard_link(from, to, error);
  if (error) std::filesystem::copy_file(from, to);
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.flush();
  if (!out) throw ModelImport::Refusal(Reason::cannotWrite, {.path = path.string()});
}

}  // namespace

ModelImport::Refusal::Refusal(Reason reason, Data data)
    : std::runtime_error(data.detail), reason_(reason), data_(std::move(data)) {}

ModelImport::ModelImport(std::filesystem::path source, std::string variant, ImportStop stop)
    : source_(std::move(source)), variant_(std::move(variant)), stop_(std::move(stop)) {
  std::error_code error;
  if (!std::filesystem::is_directory(source_, error)) {
    throw Refusal(Reason::notAFolder, {.path = source_.string()});
  }
  if (!variant_.empty() && !isVariant(variant_)) {
    throw Refusal(Reason::notVariant, {.name = variant_});
  }
  name_ = std::filesystem::absolute(source_).lexically_normal().filename().string();
  if (name_.empty()) name_ = std::filesystem::absolute(source_).parent_path().filename().string();
  if (!variant_.empty()) name_ += "_" + variant_;
  try {
    readLayout();
  } catch (const Json::exception& error) {
    throw Refusal(Reason::malformed, {.detail = error.what()});
  }
  // Two exports downloaded into folders of one name must not pass for one model.
  // The first 16 hex digits of the SHA-256 of both encoders' bytes.
  const auto digest = FileDigest::of(G_CHECKSUM_SHA256, {imageEncoder_, textEncoder_}, {}, stop_);
  if (!digest) {
    throw Refusal(Reason::unreadableEncoders,
                  {.path = imageEncoder_.string(), .other = textEncoder_.string()});
  }
  info_.weights = digest->substr(0, 16);
  info_.variant = variant_;  // as asked for, or as found in place of the float32 encoders
}

bool ModelImport::isVariant(const std::string& variant) {
  return !variant.empty() && variant.size() <= 32 &&
         std::all_of(variant.begin(), variant.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

std::vector<std::string> ModelImport::filesOf(Layout layout, const std::string& variant) {
  if (layout == Layout::optimum && !variant.empty()) {
    return {"onnx/vision_model_" + variant + ".onnx",
            "onnx/text_model_" + variant + ".onnx",
            "config.json",
            "preprocessor_config.json",
            "tokenizer.json",
            "tokenizer_config.json"};
  }
  if (layout == Layout::immich) {
    return {
        "visual/model.onnx",          "textual/model.onnx",     "config.json",
        "visual/preprocess_cfg.json", "textual/tokenizer.json", "textual/tokenizer_config.json"};
  }
  return {"onnx/vision_model.onnx",   "onnx/text_model.onnx", "config.json",
          "preprocessor_config.json", "tokenizer.json",       "tokenizer_config.json"};
}

std::optional<ModelImport::Layout> ModelImport::layoutOf(const std::vector<std::string>& paths) {
  for (const auto layout : {Layout::immich, Layout::optimum}) {
    const auto encoder = filesOf(layout).front();
    if (std::find(paths.begin(), paths.end(), encoder) != paths.end()) return layout;
  }
  return std::nullopt;
}

void ModelImport::readLayout() {
  if (present(source_ / "visual") || present(source_ / "textual")) {
    readImmich();
  } else if (present(source_ / "onnx") || present(source_ / "preprocessor_config.json")) {
    readOptimum();
  } else {
    throw Refusal(Reason::unknownLayout, {.path = source_.string()});
  }
}

std::filesystem::path ModelImport::need(const std::filesystem::path& relative) const {
  const auto path = source_ / relative;
  if (!present(path)) {
    throw Refusal(Reason::incomplete, {.path = source_.string(), .name = relative.string()});
  }
  return path;
}

void ModelImport::readImmich() {
  layout_ = Layout::immich;
  if (!variant_.empty()) {
    throw Refusal(Reason::variantOfImmich, {.path = source_.string()});
  }
  const Json config = readJSON(need("config.json"));
  const Json preprocess = readJSON(need("visual/preprocess_cfg.json"));
  imageEncoder_ = need("visual/model.onnx");
  textEncoder_ = need("textual/model.onnx");
  info_.hf = name_;
  info_.kind = "imported (Immich)";
  info_.imageSize =
      integerAt(preprocess, {"size"}, integerAt(config, {"vision_cfg", "image_size"}, 0));
  info_.contextLength = integerAt(config, {"text_cfg", "context_length"}, 77);
  info_.dim = integerAt(config, {"embed_dim"}, 0);
  info_.resize = preprocess.value("resize_mode", "shortest") == "squash" ? "squash" : "crop";
  info_.pixels = "nchw";
  info_.mean = triple(preprocess, "mean", 0.0f);
  info_.standardDeviation = triple(preprocess, "std", 1.0f);
  useInterpolation(preprocess.value("interpolation", "bicubic"));
  info_.imageInput = "image";
  info_.imageOutput = "embedding";
  info_.textInput = "text";
  info_.textOutput = "embedding";
  readTokenizer(need("textual/tokenizer.json"), source_ / "textual/tokenizer_config.json");
  const Json kwargs =
      config.value("text_cfg", Json::object()).value("tokenizer_kwargs", Json::object());
  if (kwargs.value("clean", "") == "canonicalize") info_.lowercase = true;
}

void ModelImport::readOptimum() {
  layout_ = Layout::optimum;
  const Json config = readJSON(need("config.json"));
  const Json preprocess = readJSON(need("preprocessor_config.json"));
  const auto float32 = filesOf(Layout::optimum);
  if (variant_.empty() && !present(source_ / float32[0]) && !present(source_ / float32[1]))
    useSoleVariant();
  const auto files = filesOf(Layout::optimum, variant_);
  imageEncoder_ = need(files[0]);
  textEncoder_ = need(files[1]);
  info_.hf = name_;
  info_.kind = "imported (Optimum)";
  const Json size = preprocess.value("size", Json::object());
  const bool shortestEdge = size.is_object() && size.contains("shortest_edge");
  info_.imageSize = shortestEdge ? integerAt(preprocess, {"crop_size", "height"},
                                             integerAt(size, {"shortest_edge"}, 0))
                                 : integerAt(size, {"height"}, 0);
  if (info_.imageSize == 0) info_.imageSize = integerAt(config, {"vision_config", "image_size"}, 0);
  info_.contextLength = integerAt(config, {"text_config", "max_position_embeddings"}, 64);
  const std::int64_t textWidth = integerAt(config, {"text_config", "hidden_size"}, 0);
  const std::int64_t imageWidth = integerAt(config, {"vision_config", "hidden_size"}, 0);
  // CLIP's towers end in projections to one width; their outputs are the projected vectors.
  const bool clip = config.value("model_type", "") == "clip";
  if (!clip && textWidth && imageWidth && textWidth != imageWidth) {
    throw Refusal(Reason::pooledWidthsDiffer, {.first = imageWidth, .second = textWidth});
  }
  info_.dim = clip ? integerAt(config, {"projection_dim"}, 0) : imageWidth ? imageWidth : textWidth;
  info_.resize = shortestEdge ? "crop" : "squash";
  info_.pixels = "nchw";
  info_.mean = triple(preprocess, "image_mean", 0.5f);
  info_.standardDeviation = triple(preprocess, "image_std", 0.5f);
  useInterpolation(interpolationOf(static_cast<int>(integerAt(preprocess, {"resample"}, 2))));
  info_.imageInput = "pixel_values";
  info_.imageOutput = clip ? "image_embeds" : "pooler_output";
  info_.textInput = "input_ids";
  info_.textOutput = clip ? "text_embeds" : "pooler_output";
  readTokenizer(need("tokenizer.json"), source_ / "tokenizer_config.json");
  // SigLIP's text tower was trained on lower-cased text.
  if (config.value("model_type", "").rfind("siglip", 0) == 0) info_.lowercase = true;
}

void ModelImport::useSoleVariant() {
  std::vector<std::string> variants;
  std::error_code error;
  for (const auto& item : std::filesystem::directory_iterator(source_ / "onnx", error)) {
    const std::string file = item.path().filename().string();
    const std::string prefix = "vision_model_", suffix = ".onnx";
    if (!file.starts_with(prefix) || !file.ends_with(suffix)) continue;
    const std::string variant =
        file.substr(prefix.size(), file.size() - prefix.size() - suffix.size());
    const auto pair = filesOf(Layout::optimum, variant);
    if (isVariant(variant) && present(source_ / pair[1])) variants.push_back(variant);
  }
  if (variants.empty()) return;  // the float32 encoders are asked for, and said to be missing
  std::sort(variants.begin(), variants.end());
  if (variants.size() > 1) {
    throw Refusal(Reason::severalVariants, {.path = source_.string(), .names = variants});
  }
  variant_ = variants.front();
  name_ += "_" + variant_;
  notes_.push_back({.kind = Note::Kind::soleVariant, .name = variant_});
}

void ModelImport::useInterpolation(const std::string& asked) {
  if (PictureFitter::knows(asked)) {
    info_.interpolation = asked;
    return;
  }
  // Close, not equal: the vectors differ a little from the exporter's, so the user hears of it.
  info_.interpolation = "bilinear";
  notes_.push_back({.kind = Note::Kind::resampling, .name = asked});
}

void ModelImport::readTokenizer(const std::filesystem::path& tokenizerJSON,
                                const std::filesystem::path& tokenizerConfig) {
  std::optional<HFTokenizerConverter> converter;
  try {
    converter.emplace(readFile(tokenizerJSON));
  } catch (const HFTokenizerConverter::Refusal& refusal) {
    throw Refusal(Reason::tokenizer, {.path = tokenizerJSON.string(), .detail = refusal.what()});
  }
  for (const auto& note : converter->notes())
    notes_.push_back({.kind = Note::Kind::tokenizer, .detail = note});
  tokenizerBytes_ = converter->fileBytes();
  const Json config = present(tokenizerConfig) ? readJSON(tokenizerConfig) : Json::object();
  info_.padId = firstId(*converter, specialId(*converter, config, "pad_token"), {"<pad>"});
  info_.eosId = firstId(*converter, specialId(*converter, config, "eos_token"),
                        {"<eos>", "</s>", "<|endoftext|>"});
  info_.lowercase = converter->lowercases() || config.value("do_lower_case", false);
  info_.logitScale = familyLogitScale;
  info_.logitBias = familyLogitBias;
  info_.batch = 1;
  notes_.push_back(
      {.kind = Note::Kind::defaultLogits, .scale = familyLogitScale, .bias = familyLogitBias});
  if (info_.imageSize < 1 || info_.dim < 1) {
    throw Refusal(Reason::noSizeOrWidth, {});
  }
}

std::filesystem::path ModelImport::defaultDestination() const {
  return ModelChoice::modelsDirectory() / name_;
}

std::string ModelImport::modelJSON(const ModelInfo& info) {
  Json json = {{"hf", info.hf},
               {"kind", info.kind},
               {"imageSize", info.imageSize},
               {"contextLength", info.contextLength},
               {"dim", info.dim},
               {"logitScale", info.logitScale},
               {"logitBias", info.logitBias},
               {"lowercase", info.lowercase},
               {"padId", info.padId},
               {"eosId", info.eosId},
               {"resize", info.resize},
               {"batch", info.batch},
               {"pixels", info.pixels},
               {"mean", info.mean},
               {"std", info.standardDeviation},
               {"interpolation", info.interpolation},
               {"imageInput", info.imageInput},
               {"imageOutput", info.imageOutput},
               {"textInput", info.textInput},
               {"textOutput", info.textOutput}};
  if (!info.weights.empty()) json["weights"] = info.weights;
  if (!info.variant.empty()) json["variant"] = info.variant;
  return json.dump(2) + "\n";
}

void ModelImport::place(const std::filesystem::path& encoder, const std::filesystem::path& target) {
  const Float16Upcast widened(encoder, stop_);
  if (widened.widened() == 0) {
    link(encoder, target);
    return;
  }
  try {
    widened.write(target);
    notes_.push_back({.kind = Note::Kind::widened, .name = encoder.filename().string()});
  } catch (const Float16Upcast::Failure& failure) {
    // Still a working encoder, at float16's speed.
    std::error_code ignored;
    std::filesystem::remove(target, ignored);
    link(encoder, target);
    notes_.push_back({.kind = Note::Kind::keptFloat16,
                      .name = encoder.filename().string(),
                      .detail = failure.what(),
                      .kept = failure.reason()});
  }
}

void ModelImport::write(const std::filesystem::path& given) {
  // Relative to the working directory; the temporary folder is made beside it.
  std::filesystem::path destination = std::filesystem::absolute(given).lexically_normal();
  if (!destination.has_filename()) destination = destination.parent_path();  // "dir/"
  if (present(destination)) {
    throw Refusal(Reason::exists, {.path = destination.string()});
  }
  std::filesystem::create_directories(destination.parent_path());
  const auto temporary = AtomicFile::temporaryBeside(destination, "import");
  std::error_code ignored;
  std::filesystem::remove_all(temporary, ignored);
  try {
    std::filesystem::create_directory(temporary);
    place(imageEncoder_, temporary / "ImageEncoder.onnx");
    place(textEncoder_, temporary / "TextEncoder.onnx");
    // The compiled forms run with their weights left on disk, mapped: a text encoder of a
    // gigabyte then costs a gigabyte of page cache, not two of memory while it loads.
    for (const char* name : {"ImageEncoder", "TextEncoder"}) {
      stop_.check();
      Embedder::compile(temporary / (std::string(name) + ".onnx"),
                        temporary / (std::string(name) + ".ort"));
    }
    stop_.check();
    writeFile(temporary / "tokenizer.bin", tokenizerBytes_);
    writeFile(temporary / "model.json", modelJSON(info_));
    check(temporary);
    stop_.check();
    std::filesystem::rename(temporary, destination);
  } catch (const ImportStop::Stopped&) {
    std::filesystem::remove_all(temporary, ignored);
    throw;
  } catch (const Refusal&) {
    std::filesystem::remove_all(temporary, ignored);
    throw;
  } catch (const std::exception& failure) {
    std::filesystem::remove_all(temporary, ignored);
    throw Refusal(Reason::failed, {.detail = failure.what()});
  }
}

// Opens both encoders, compares their graphs with the configuration and runs each once.
void ModelImport::check(const std::filesystem::path& directory) const {
  Embedder embedder(directory, Embedder::ComputeUnits::oneThread());
  const Embedder::Shapes image = embedder.imageShapes();
  const Embedder::Shapes text = embedder.textShapes();
  if (image.input.size() != 4 || image.output.empty()) {
    throw Refusal(Reason::imageGraph, {.other = info_.imageOutput, .name = info_.imageInput});
  }
  if (text.input.size() != 2 || text.output.empty()) {
    throw Refusal(Reason::textGraph, {.other = info_.textOutput, .name = info_.textInput});
  }
  for (std::size_t axis : {2, 3}) {
    if (image.input[axis] > 0 && image.input[axis] != info_.imageSize) {
      throw Refusal(Reason::imageSizeDiffers,
                    {.dimensions = image.input, .first = info_.imageSize});
    }
  }
  const std::int64_t imageWidth = image.output.back();
  const std::int64_t textWidth = text.output.back();
  if (imageWidth > 0 && textWidth > 0 && imageWidth != textWidth) {
    throw Refusal(Reason::outputWidthsDiffer, {.first = imageWidth, .second = textWidth});
  }
  const std::int64_t width = imageWidth > 0 ? imageWidth : textWidth;
  if (width > 0 && width != info_.dim) {
    throw Refusal(Reason::widthDiffers, {.first = width, .second = info_.dim});
  }
  const Picture grey{.width = 4, .height = 4, .rgb = std::vector<std::uint8_t>(48, 128)};
  embedder.embed(std::span<const Picture>(&grey, 1));
  embedder.embed(std::string_view("a photo"));
}

}  // namespace quillmere
