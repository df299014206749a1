// SPDX-License-Identifier: GPL-3.0-or-later
// model.json decoded into a model's description, and the signature that names the model.
#include "model/ModelInfo.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

namespace quillmere {
namespace {

using Json = nlohmann::json;

const Json& member(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end()) {
    throw ModelInfo::DecodingError(std::string("model.json: the key \"") + key + "\" is missing");
  }
  return *it;
}

[[noreturn]] void wrongType(const char* key, const char* expected) {
  throw ModelInfo::DecodingError(std::string("model.json: the value of \"") + key + "\" is not " +
                                 expected);
}

std::string stringValue(const Json& object, const char* key) {
  const Json& value = member(object, key);
  if (!value.is_string()) wrongType(key, "a string");
  return value.get<std::string>();
}

// Integers only: 224.0 or 2.5 are refused rather than truncated.
std::int64_t integerValue(const Json& object, const char* key, std::int64_t low,
                          std::int64_t high) {
  const Json& value = member(object, key);
  if (value.is_number_unsigned()) {
    auto raw = value.get<std::uint64_t>();
    if (raw > static_cast<std::uint64_t>(high)) wrongType(key, "an integer in range");
    return static_cast<std::int64_t>(raw);
  }
  if (!value.is_number_integer()) wrongType(key, "an integer");
  auto raw = value.get<std::int64_t>();
  if (raw < low || raw > high) wrongType(key, "an integer in range");
  return raw;
}

std::int64_t int64Value(const Json& object, const char* key) {
  return integerValue(object, key, std::numeric_limits<std::int64_t>::min(),
                      std::numeric_limits<std::int64_t>::max());
}

std::int32_t int32Value(const Json& object, const char* key) {
  return static_cast<std::int32_t>(integerValue(object, key,
                                                std::numeric_limits<std::int32_t>::min(),
                                                std::numeric_limits<std::int32_t>::max()));
}

float floatValue(const Json& object, const char* key) {
  const Json& value = member(object, key);
  if (!value.is_number()) wrongType(key, "a number");
  double raw = value.get<double>();
  if (!std::isfinite(raw) || std::fabs(raw) > std::numeric_limits<float>::max()) {
    wrongType(key, "a 32-bit float");
  }
  return static_cast<float>(raw);
}

bool boolValue(const Json& object, const char* key) {
  const Json& value = member(object, key);
  if (!value.is_boolean()) wrongType(key, "a boolean");
  return value.get<bool>();
}

void optionalString(const Json& object, const char* key, std::string& field) {
  if (object.contains(key)) field = stringValue(object, key);
}

void optionalTriple(const Json& object, const char* key, std::array<float, 3>& field) {
  if (!object.contains(key)) return;
  const Json& value = object.at(key);
  if (!value.is_array() || value.size() != 3) wrongType(key, "an array of three numbers");
  for (std::size_t c = 0; c < 3; ++c) {
    const double raw = value[c].is_number() ? value[c].get<double>() : NAN;
    if (!std::isfinite(raw) || std::fabs(raw) > std::numeric_limits<float>::max()) {
      wrongType(key, "an array of three numbers");
    }
    field[c] = static_cast<float>(raw);
  }
}

void decodeOptional(const Json& root, ModelInfo& info) {
  optionalString(root, "pixels", info.pixels);
  if (info.pixels != "uint8" && info.pixels != "nchw" && info.pixels != "nhwc") {
    wrongType("pixels", "\"uint8\", \"nchw\" or \"nhwc\"");
  }
  optionalTriple(root, "mean", info.mean);
  optionalTriple(root, "std", info.standardDeviation);
  for (float deviation : info.standardDeviation) {
    if (!(deviation > 0)) wrongType("std", "three positive numbers");
  }
  optionalString(root, "interpolation", info.interpolation);
  optionalString(root, "imageInput", info.imageInput);
  optionalString(root, "imageOutput", info.imageOutput);
  optionalString(root, "textInput", info.textInput);
  optionalString(root, "textOutput", info.textOutput);
  optionalString(root, "weights", info.weights);
  optionalString(root, "variant", info.variant);
}

}  // namespace

ModelInfo ModelInfo::decode(std::string_view json) {
  Json root;
  try {
    root = Json::parse(json.begin(), json.end());
  } catch (const Json::exception& error) {
    // Syntax errors, and numbers too large for a double (out_of_range) alike.
    throw DecodingError(std::string("model.json: ") + error.what());
  }
  if (!root.is_object()) throw DecodingError("model.json: the top level is not an object");
  ModelInfo info;
  info.hf = stringValue(root, "hf");
  info.kind = stringValue(root, "kind");
  info.imageSize = int64Value(root, "imageSize");
  info.contextLength = int64Value(root, "contextLength");
  info.dim = int64Value(root, "dim");
  info.logitScale = floatValue(root, "logitScale");
  info.logitBias = floatValue(root, "logitBias");
  info.lowercase = boolValue(root, "lowercase");
  info.padId = int32Value(root, "padId");
  info.eosId = int32Value(root, "eosId");
  info.resize = stringValue(root, "resize");
  info.batch = int64Value(root, "batch");
  decodeOptional(root, info);
  return info;
}

std::string ModelInfo::signature() const {
  const std::string base = hf + "@" + std::to_string(imageSize);
  return weights.empty() ? base : base + "#" + weights;
}

}  // namespace quillmere
