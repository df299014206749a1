// SPDX-License-Identifier: GPL-3.0-or-later
// model.json decoding on arbitrary bytes: it either decodes or throws DecodingError (nothing
// else escapes), and whatever it decodes, written back as JSON, decodes to the same value.
#include <string_view>

#include "FuzzSupport.h"
#include "catalogue/ModelImport.h"
#include "model/ModelInfo.h"

using namespace quillmere;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ModelInfo info;
  try {
    info = ModelInfo::decode(text);
  } catch (const ModelInfo::DecodingError& error) {
    fuzz::require(std::string_view(error.what()).starts_with("model.json: "),
                  "a decoding error without its prefix");
    return 0;
  }
  fuzz::require(info.signature() == info.hf + "@" + std::to_string(info.imageSize), "signature");

  ModelInfo again;
  try {
    again = ModelInfo::decode(ModelImport::modelJSON(info));
  } catch (const ModelInfo::DecodingError& error) {
    fuzz::fail(std::string("a decoded description does not decode again: ") + error.what());
  }
  fuzz::require(again == info, "a decoded description changes when written and read back");
  return 0;
}
