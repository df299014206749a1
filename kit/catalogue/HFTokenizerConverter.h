// SPDX-License-Identifier: GPL-3.0-or-later
// Converts a Hugging Face tokenizer.json into the bytes of tokenizer.bin: BPE with byte
// fallback and "▁" for spaces (SentencePiece-derived, such as Gemma's) into QMBPE1, byte-level
// BPE (CLIP's, Llama 3's) into QMBPE2 with its scheme. Entry k is the token with id k (added
// tokens included, unused ids empty), merges in rank order. The same rules as
// tools/convert_hf_tokenizer.py, byte for byte.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "model/ByteLevelScheme.h"

namespace quillmere {

class HFTokenizerConverter {
 public:
  // A tokenizer that can't be converted; what() says why.
  class Refusal : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };

  // Parses tokenizer.json. Throws Refusal.
  explicit HFTokenizerConverter(std::string_view json);

  // The tokenizer.bin file.
  std::string fileBytes() const;
  // Remarks about what the engine does differently (no byte fallback, a leading "▁").
  const std::vector<std::string>& notes() const { return notes_; }
  bool lowercases() const { return lowercases_; }
  std::optional<std::int32_t> idOf(const std::string& token) const;
  std::size_t vocabularySize() const { return byId_.size(); }
  std::size_t mergeCount() const { return merges_.size(); }
  // The byte-level scheme, for a QMBPE2 file.
  const std::optional<ByteLevelScheme>& scheme() const { return scheme_; }

 private:
  struct Merge {
    std::int32_t left;
    std::int32_t right;
    std::int32_t merged;
  };

  using Vocabulary = std::map<std::string, std::int64_t>;
  void readIds(const Vocabulary& vocabulary, std::size_t named);
  void checkScheme(const nlohmann::json& root, const nlohmann::json& model,
                   const Vocabulary& vocabulary);
  void readByteLevel(const nlohmann::json& root, const nlohmann::json& model);
  void readMerges(const nlohmann::json& model, const Vocabulary& vocabulary);

  std::vector<std::string> byId_;
  std::vector<Merge> merges_;
  std::vector<std::string> notes_;
  bool lowercases_ = false;
  std::optional<ByteLevelScheme> scheme_;
};

}  // namespace quillmere
