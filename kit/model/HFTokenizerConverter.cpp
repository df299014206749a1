// SPDX-License-Identifier: GPL-3.0-or-later
// Conversion of a Hugging Face tokenizer.json into the engine's tokenizer file.
#include "model/HFTokenizerConverter.h"

#include <limits>
#include <map>
#include <nlohmann/json.hpp>

namespace quillmere {
namespace {

using Json = nlohmann::json;
using Vocabulary = std::map<std::string, std::int64_t>;

const std::string space = "\u2581";

[[noreturn]] void refuse(const std::string& why) {
  throw HFTokenizerConverter::Refusal("tokenizer.json: " + why);
}

// The model's vocabulary, then added tokens where their text is new.
Vocabulary vocabularyOf(const Json& model, const Json& root) {
  Vocabulary vocabulary;
  const Json& entries = model.value("vocab", Json::object());
  if (!entries.is_object()) refuse("the vocabulary is not an object");
  for (const auto& [text, id] : entries.items()) {
    if (!id.is_number_integer()) refuse("the id of \"" + text + "\" is not an integer");
    vocabulary[text] = id.get<std::int64_t>();
  }
  const Json added = root.value("added_tokens", Json::array());
  for (const Json& token : added.is_array() ? added : Json::array()) {
    if (!token.contains("content") || !token["content"].is_string() || !token.contains("id") ||
        !token["id"].is_number_integer()) {
      refuse("an added token lacks its content or id");
    }
    vocabulary.emplace(token["content"].get<std::string>(), token["id"].get<std::int64_t>());
  }
  if (vocabulary.empty()) refuse("the tokenizer has no vocabulary");
  return vocabulary;
}

std::string dumped(const Json& root, const char* key) {
  return root.contains(key) ? root[key].dump() : "null";
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// "left right", where either part may hold spaces: the one split that names three tokens.
std::pair<std::string, std::string> splitMerge(const Json& merge, const Vocabulary& vocabulary) {
  if (merge.is_array()) {
    if (merge.size() != 2 || !merge[0].is_string() || !merge[1].is_string()) {
      refuse("merge " + merge.dump() + " is not a pair");
    }
    return {merge[0].get<std::string>(), merge[1].get<std::string>()};
  }
  if (!merge.is_string()) refuse("merge " + merge.dump() + " can't be read");
  const std::string text = merge.get<std::string>();
  std::vector<std::pair<std::string, std::string>> candidates;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != ' ') continue;
    std::string left = text.substr(0, i);
    std::string right = text.substr(i + 1);
    if (vocabulary.count(left) && vocabulary.count(right) && vocabulary.count(left + right)) {
      candidates.emplace_back(std::move(left), std::move(right));
    }
  }
  if (candidates.size() != 1) refuse("merge " + merge.dump() + " can't be read");
  return candidates.front();
}

void appendU32(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(value >> shift));
}

}  // namespace

HFTokenizerConverter::HFTokenizerConverter(std::string_view json) {
  Json root;
  try {
    root = Json::parse(json.begin(), json.end());
  } catch (const Json::exception& error) {
    refuse(error.what());
  }
  if (!root.is_object()) refuse("the top level is not an object");
  const Json model = root.value("model", Json::object());
  const std::string type = model.is_object() && model.contains("type") && model["type"].is_string()
                               ? model["type"].get<std::string>()
                               : "none";
  if (type != "BPE") refuse("only BPE tokenizers can be converted (this one is " + type + ")");
  const Vocabulary vocabulary = vocabularyOf(model, root);
  readIds(vocabulary);
  checkScheme(root, model, vocabulary);
  readMerges(model, vocabulary);
}

void HFTokenizerConverter::readIds(const Vocabulary& vocabulary) {
  std::int64_t largest = -1;
  for (const auto& [text, id] : vocabulary) {
    if (id < 0) refuse("token ids out of range");
    largest = std::max(largest, id);
  }
  if (largest + 1 > std::numeric_limits<std::int32_t>::max()) refuse("token ids out of range");
  byId_.assign(static_cast<std::size_t>(largest + 1), "");
  std::vector<bool> taken(byId_.size(), false);
  for (const auto& [text, id] : vocabulary) {
    if (taken[id]) refuse("id " + std::to_string(id) + " is given to two tokens");
    if (text.size() > 0xFFFF) refuse("a vocabulary entry is longer than 65535 bytes");
    taken[id] = true;
    byId_[id] = text;
  }
}

void HFTokenizerConverter::checkScheme(const Json& root, const Json& model,
                                       const Vocabulary& vocabulary) {
  const std::string pre = dumped(root, "pre_tokenizer");
  if (contains(pre, "ByteLevel") || (vocabulary.count("\u0120") && !vocabulary.count(space))) {
    refuse(
        "byte-level BPE (GPT-2 / CLIP style, \"\u0120\" for spaces) is not the byte-fallback "
        "scheme the engine tokenises with; use an export whose tokenizer is SentencePiece-based "
        "(SigLIP or SigLIP 2)");
  }
  const bool byteFallback = model.contains("byte_fallback") &&
                            model["byte_fallback"].is_boolean() &&
                            model["byte_fallback"].get<bool>();
  if (!byteFallback && !vocabulary.count("<0x41>")) {
    notes_.push_back("no byte fallback; characters outside the vocabulary will be dropped");
  }
  const std::string normalizer = dumped(root, "normalizer");
  if (contains(normalizer, "Prepend") || contains(pre, "\"add_prefix_space\":true") ||
      contains(pre, "Metaspace")) {
    notes_.push_back("this tokenizer adds a \u2581 at the start of the text; the engine does not");
  }
  lowercases_ = contains(normalizer, "Lowercase");
}

void HFTokenizerConverter::readMerges(const Json& model, const Vocabulary& vocabulary) {
  const Json merges = model.value("merges", Json::array());
  for (const Json& merge : merges.is_array() ? merges : Json::array()) {
    auto [left, right] = splitMerge(merge, vocabulary);
    auto l = vocabulary.find(left);
    auto r = vocabulary.find(right);
    auto m = vocabulary.find(left + right);
    if (l == vocabulary.end() || r == vocabulary.end() || m == vocabulary.end()) {
      refuse("merge " + merge.dump() + " names tokens that are not in the vocabulary");
    }
    merges_.push_back({static_cast<std::int32_t>(l->second), static_cast<std::int32_t>(r->second),
                       static_cast<std::int32_t>(m->second)});
  }
}

std::string HFTokenizerConverter::fileBytes() const {
  std::string out = "QMBPE1";
  appendU32(out, static_cast<std::uint32_t>(byId_.size()));
  for (const std::string& entry : byId_) {
    out.push_back(static_cast<char>(entry.size() & 0xFF));
    out.push_back(static_cast<char>(entry.size() >> 8));
    out += entry;
  }
  appendU32(out, static_cast<std::uint32_t>(merges_.size()));
  for (const Merge& merge : merges_) {
    appendU32(out, static_cast<std::uint32_t>(merge.left));
    appendU32(out, static_cast<std::uint32_t>(merge.right));
    appendU32(out, static_cast<std::uint32_t>(merge.merged));
  }
  return out;
}

std::optional<std::int32_t> HFTokenizerConverter::idOf(const std::string& token) const {
  for (std::size_t k = 0; k < byId_.size(); ++k) {
    if (byId_[k] == token) return static_cast<std::int32_t>(k);
  }
  return std::nullopt;
}

}  // namespace quillmere
