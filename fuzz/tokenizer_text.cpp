// SPDX-License-Identifier: GPL-3.0-or-later
// The demo model's tokenizer on arbitrary query text: every encoding has exactly the context
// length, holds only ids of the vocabulary, agrees with the plain rescan-after-every-merge
// algorithm, and a cached answer equals a fresh one.
//
// Input: the query; the last bytes choose the context length and lowercasing.
#include <fuzzer/FuzzedDataProvider.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>

#include "FuzzSupport.h"
#include "ReferenceTokenizer.h"
#include "model/BPETokenizer.h"

using namespace quillmere;

namespace {

std::vector<std::uint8_t> demoFile() {
  const char* override = std::getenv("QUILLMERE_FUZZ_TOKENIZER");
  const std::string path =
      override && *override ? override : QUILLMERE_RESOURCES_DIR "/Model/tokenizer.bin";
  std::ifstream in(path, std::ios::binary);
  fuzz::require(static_cast<bool>(in), "cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::vector<std::uint8_t>& file() {
  static const std::vector<std::uint8_t> bytes = demoFile();
  return bytes;
}

const fuzz::ReferenceTokenizer& reference() {
  static const fuzz::ReferenceTokenizer tokenizer = [] {
    std::string error;
    auto parsed = fuzz::ReferenceTokenizer::parse(file().data(), file().size(), error);
    fuzz::require(parsed.has_value(), "the demo tokenizer is malformed: " + error);
    return *parsed;
  }();
  return tokenizer;
}

constexpr std::int32_t padID = 0, eosID = 1;

// One tokenizer per setting, kept: the cache is part of what is tested.
const BPETokenizer& tokenizer(std::int64_t contextLength, bool lowercase) {
  static std::map<std::pair<std::int64_t, bool>, std::unique_ptr<BPETokenizer>> made;
  auto& slot = made[{contextLength, lowercase}];
  if (!slot)
    slot =
        std::make_unique<BPETokenizer>(std::span(file()), contextLength, padID, eosID, lowercase);
  return *slot;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool lowercase = input.ConsumeBool();
  // The demo's 64, the edge cases 1 and 2, and a few around them.
  static constexpr std::int64_t lengths[] = {64, 1, 2, 3, 16, 77, 128};
  const std::int64_t contextLength = input.PickValueInArray(lengths);
  const std::string query = input.ConsumeRemainingBytesAsString();

  const BPETokenizer& t = tokenizer(contextLength, lowercase);
  const std::vector<std::int32_t> ids = t.tokens(query);
  fuzz::require(ids == reference().tokens(query, lowercase), "tokens differ from the plain merge");
  for (std::int32_t id : ids) {
    fuzz::require(id >= 0 && static_cast<std::uint32_t>(id) < reference().vocabCount,
                  "an id outside the vocabulary: " + std::to_string(id));
  }
  fuzz::require(t.tokens(query) == ids, "the cached answer differs");

  const std::vector<std::int32_t> framed = t.encode(query);
  fuzz::require(framed.size() == static_cast<std::size_t>(contextLength), "encode length");
  const std::size_t kept = std::min(ids.size(), static_cast<std::size_t>(contextLength - 1));
  for (std::size_t i = 0; i < kept; ++i) fuzz::require(framed[i] == ids[i], "encode prefix");
  fuzz::require(framed[kept] == eosID, "no end id after the tokens");
  for (std::size_t i = kept + 1; i < framed.size(); ++i)
    fuzz::require(framed[i] == padID, "padding is not the pad id");
  return 0;
}
