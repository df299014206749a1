// SPDX-License-Identifier: GPL-3.0-or-later
// The description of a search model, decoded from the model directory's model.json.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quillmere {

struct ModelInfo {
  // A model.json that is not valid JSON, lacks a key or holds a value of the wrong type.
  class DecodingError : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };

  std::string hf;                  // identifier; first part of the signature
  std::string kind;                // descriptive label, carried only
  std::int64_t imageSize = 0;      // side of the square image input
  std::int64_t contextLength = 0;  // token positions of the text input
  std::int64_t dim = 0;            // width of one embedding vector
  float logitScale = 0;
  float logitBias = 0;
  bool lowercase = false;
  std::int32_t padId = 0;
  std::int32_t eosId = 0;
  std::string resize;      // "squash" stretches; anything else fills and crops the centre
  std::int64_t batch = 0;  // carried only

  // Optional keys, for encoders made elsewhere; absent, they describe the built-in convention.
  std::string pixels = "uint8";  // "uint8": RGB bytes NHWC; "nchw" / "nhwc": float32, normalised
  std::array<float, 3> mean{0, 0, 0};  // per channel, on values scaled to 0..1
  std::array<float, 3> standardDeviation{1, 1, 1};
  std::string interpolation = "lanczos3";  // resampling kernel, see PictureFitter::kernel
  std::string imageInput = "image";
  std::string imageOutput = "embedding";
  std::string textInput = "input_ids";
  std::string textOutput = "embedding";
  // For an imported model, a digest of its encoders' files: two exports under one name differ.
  std::string weights;
  // The published encoders' variant ("quantized", "fp16"); empty for the float32 ones.
  std::string variant;

  // Every one of the twelve keys is required; integers must be written as integers and fit
  // their field. The optional keys keep their defaults when absent. Extra keys are ignored.
  // Throws DecodingError.
  static ModelInfo decode(std::string_view json);

  // hf + "@" + imageSize, then "#" + weights when known: what the library stores to notice a
  // change of model.
  std::string signature() const;
  // Whether the image encoder takes float pixels the engine normalises.
  bool floatPixels() const { return pixels != "uint8"; }
  // The hand-made demo model, which knows colours and light but no objects or scenes.
  bool isDemo() const { return hf == "quillmere-demo" || kind.starts_with("demo"); }

  bool operator==(const ModelInfo&) const = default;
};

}  // namespace quillmere
