// SPDX-License-Identifier: GPL-3.0-or-later
// Conversion of a Hugging Face tokenizer.json into the engine's tokenizer file.
#include "catalogue/HFTokenizerConverter.h"

#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <unordered_set>

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

// How many tokens the file names.
std::size_t tokensNamed(const Json& model, const Json& root) {
  const Json added = root.value("added_tokens", Json::array());
  return model.value("vocab", Json::object()).size() + (added.is_array() ? added.size() : 0);
}

// A token's text for a message, in quotes: the start of a long one.
std::string quoted(const std::string& text) {
  const std::string start = text.substr(0, 40);
  const std::string more =
      text.size() > start.size() ? "... (" + std::to_string(text.size()) + " bytes)" : "";
  return Json(start).dump(-1, ' ', false, Json::error_handler_t::replace) + more;
}

// The ids a vocabulary of `named` tokens may use, with gaps.
std::uint64_t idLimit(std::size_t named) {
  return 2 * static_cast<std::uint64_t>(named) + 256;
}

std::string dumped(const Json& root, const char* key) {
  return root.contains(key) ? root[key].dump() : "null";
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Polynomial hashes of byte strings modulo 2^61 - 1, so that a merge's every split is tried
// in constant time and a long merge string costs linear time, not quadratic.
class SplitHashes {
 public:
  explicit SplitHashes(const Vocabulary& vocabulary) {
    for (const auto& [text, id] : vocabulary) known_.insert(of(text));
  }

  // The splits at a space whose two parts and their join may all be tokens; exact look-ups
  // then settle them.
  std::vector<std::size_t> candidates(const std::string& text) {
    const std::size_t n = text.size();
    prefix_.assign(n + 1, 0);
    while (powers_.size() <= n) powers_.push_back(times(powers_.back(), base));
    for (std::size_t i = 0; i < n; ++i) prefix_[i + 1] = step(prefix_[i], text[i]);
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < n; ++i) {
      if (text[i] != ' ') continue;
      const std::uint64_t left = prefix_[i], right = part(i + 1, n);
      if (known_.count(left) && known_.count(right) &&
          known_.count(plus(times(left, powers_[n - i - 1]), right))) {
        found.push_back(i);
      }
    }
    return found;
  }

 private:
  static constexpr std::uint64_t modulus = (std::uint64_t{1} << 61) - 1;
  static constexpr std::uint64_t base = 1'000'003;

  static std::uint64_t times(std::uint64_t a, std::uint64_t b) {
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return plus(static_cast<std::uint64_t>(product & modulus),
                static_cast<std::uint64_t>(product >> 61));
  }
  static std::uint64_t plus(std::uint64_t a, std::uint64_t b) {
    const std::uint64_t sum = a + b;
    return sum >= modulus ? sum - modulus : sum;
  }
  static std::uint64_t step(std::uint64_t hash, char c) {
    return plus(times(hash, base), static_cast<unsigned char>(c) + 1);
  }
  static std::uint64_t of(const std::string& text) {
    std::uint64_t hash = 0;
    for (const char c : text) hash = step(hash, c);
    return hash;
  }
  std::uint64_t part(std::size_t from, std::size_t to) const {
    return plus(prefix_[to], modulus - times(prefix_[from], powers_[to - from]));
  }

  std::unordered_set<std::uint64_t> known_;
  std::vector<std::uint64_t> prefix_;
  std::vector<std::uint64_t> powers_{1};
};

// "left right", where either part may hold spaces: the one split that names three tokens.
std::pair<std::string, std::string> splitMerge(const Json& merge, const Vocabulary& vocabulary,
                                               std::optional<SplitHashes>& hashes) {
  if (merge.is_array()) {
    if (merge.size() != 2 || !merge[0].is_string() || !merge[1].is_string()) {
      refuse("merge " + merge.dump() + " is not a pair");
    }
    return {merge[0].get<std::string>(), merge[1].get<std::string>()};
  }
  if (!merge.is_string()) refuse("merge " + merge.dump() + " can't be read");
  const std::string& text = merge.get_ref<const std::string&>();
  if (!hashes) hashes.emplace(vocabulary);
  std::vector<std::pair<std::string, std::string>> splits;
  for (const std::size_t i : hashes->candidates(text)) {
    std::string left = text.substr(0, i);
    std::string right = text.substr(i + 1);
    if (vocabulary.count(left) && vocabulary.count(right) && vocabulary.count(left + right)) {
      splits.emplace_back(std::move(left), std::move(right));
    }
    if (splits.size() > 1) break;
  }
  if (splits.size() != 1) refuse("merge " + quoted(text) + " can't be read");
  return splits.front();
}

void appendU32(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(value >> shift));
}

void appendU16(std::string& out, std::size_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

// The split patterns the engine has written out, as the exporters spell them.
constexpr const char* clipPattern = R"('s|'t|'re|'ve|'m|'ll|'d|[\p{L}]+|[\p{N}]|[^\s\p{L}\p{N}]+)";
constexpr const char* clipPatternWithSpecials =
    R"(<\|startoftext\|>|<\|endoftext\|>|'s|'t|'re|'ve|'m|'ll|'d|[\p{L}]+|[\p{N}]|[^\s\p{L}\p{N}]+)";
constexpr const char* llama3Pattern =
    R"((?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}{1,3}| ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+)";

std::string typeOf(const Json& node) {
  return node.is_object() && node.contains("type") && node["type"].is_string()
             ? node["type"].get<std::string>()
             : "";
}

// A Sequence's parts, or the node alone.
std::vector<Json> partsOf(const Json& node, const char* key) {
  if (node.is_null()) return {};
  if (typeOf(node) == "Sequence" && node.contains(key) && node[key].is_array()) {
    return node[key].get<std::vector<Json>>();
  }
  return {node};
}

// The pre-tokenizer's Split pattern, if it is one the engine knows.
std::optional<ByteLevelScheme::Pattern> patternOf(const Json& split) {
  const Json pattern = split.value("pattern", Json::object());
  const std::string regex = pattern.is_object() ? pattern.value("Regex", "") : "";
  const std::string behavior = split.value("behavior", "");
  const bool invert = split.value("invert", false);
  if ((regex == clipPattern || regex == clipPatternWithSpecials) && behavior == "Removed" &&
      invert) {
    return ByteLevelScheme::Pattern::clip;
  }
  if (regex == llama3Pattern && behavior == "Isolated" && !invert) {
    return ByteLevelScheme::Pattern::llama3;
  }
  return std::nullopt;
}

// The start token a post-processor puts before the text: Roberta's or BERT's cls, or the
// first special token of a template's single-sequence form.
std::int32_t startTokenOf(const Json& processor, const Vocabulary& vocabulary) {
  for (const Json& part : partsOf(processor, "processors")) {
    const std::string type = typeOf(part);
    if ((type == "RobertaProcessing" || type == "BertProcessing") && part.contains("cls") &&
        part["cls"].is_array() && part["cls"].size() == 2 && part["cls"][1].is_number_integer()) {
      return part["cls"][1].get<std::int32_t>();
    }
    if (type == "TemplateProcessing" && part.contains("single") && part["single"].is_array() &&
        !part["single"].empty() && part["single"][0].contains("SpecialToken")) {
      const std::string name = part["single"][0]["SpecialToken"].value("id", "");
      if (auto it = vocabulary.find(name); it != vocabulary.end()) {
        return static_cast<std::int32_t>(it->second);
      }
    }
  }
  return -1;
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
  if (type != "BPE") {
    refuse("it uses a" + std::string(type == "none" ? "n unnamed" : " " + type) +
           " model, which Quillmere can't read yet; use an export whose tokenizer is BPE "
           "(SigLIP, SigLIP 2, CLIP)");
  }
  const Vocabulary vocabulary = vocabularyOf(model, root);
  readIds(vocabulary, tokensNamed(model, root));
  checkScheme(root, model, vocabulary);
  readMerges(model, vocabulary);
}

void HFTokenizerConverter::readIds(const Vocabulary& vocabulary, std::size_t named) {
  std::int64_t largest = -1;
  for (const auto& [text, id] : vocabulary) {
    if (id < 0) refuse("token ids out of range");
    // One entry is kept for every id up to the largest: ids may leave gaps, but not gaps
    // larger than the vocabulary, which would make room for ids nobody has.
    if (static_cast<std::uint64_t>(id) >= idLimit(named)) {
      refuse("the id " + std::to_string(id) + " of " + quoted(text) +
             " is far beyond the vocabulary's " + std::to_string(named) + " tokens");
    }
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
    readByteLevel(root, model);
    scheme_->bosID = startTokenOf(root.value("post_processor", Json()), vocabulary);
    for (int b = 0; b < 256; ++b) {
      const std::string character =
          ByteLevelScheme::charactersOf(std::string(1, static_cast<char>(b)));
      if (!vocabulary.count(character)) {
        notes_.push_back("not every byte has a token; characters without one will be dropped");
        break;
      }
    }
    return;
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

// The byte-level scheme: a known split pattern, then ByteLevel without a prefix space; CLIP's
// clean-up and lower-casing, or none.
void HFTokenizerConverter::readByteLevel(const Json& root, const Json& model) {
  ByteLevelScheme scheme;
  std::optional<ByteLevelScheme::Pattern> pattern;
  bool byteLevel = false;
  for (const Json& part : partsOf(root.value("pre_tokenizer", Json()), "pretokenizers")) {
    const std::string type = typeOf(part);
    if (type == "Split" && !pattern && !byteLevel) {
      pattern = patternOf(part);
    } else if (type == "ByteLevel" && pattern && !byteLevel &&
               !part.value("add_prefix_space", false)) {
      byteLevel = true;
    } else {
      pattern.reset();
      break;
    }
  }
  if (!pattern || !byteLevel) {
    refuse(
        "it is byte-level BPE with a pre-tokenizer Quillmere can't read yet (it reads CLIP's "
        "and Llama 3's word splits)");
  }
  scheme.pattern = *pattern;
  bool nfc = false, spaces = false;
  for (const Json& part : partsOf(root.value("normalizer", Json()), "normalizers")) {
    const std::string type = typeOf(part);
    const Json replacePattern = part.value("pattern", Json::object());
    if (type == "NFC") {
      nfc = true;
    } else if (type == "Replace" && replacePattern.is_object() &&
               replacePattern.value("Regex", "") == "\\s+" && part.value("content", "") == " ") {
      spaces = true;
    } else if (type == "Lowercase") {
      scheme.flags |= ByteLevelScheme::lowercase;
      lowercases_ = true;
    } else {
      refuse("it is byte-level BPE with a normalizer Quillmere can't read yet (" + part.dump() +
             ")");
    }
  }
  if (nfc != spaces) refuse("it is byte-level BPE with a normalizer Quillmere can't read yet");
  if (nfc) scheme.flags |= ByteLevelScheme::cleanUp;
  if (model.value("ignore_merges", false)) scheme.flags |= ByteLevelScheme::ignoreMerges;
  const Json prefix = model.value("continuing_subword_prefix", Json());
  if (prefix.is_string() && !prefix.get<std::string>().empty()) {
    refuse("it is byte-level BPE with a continuing-subword prefix, which Quillmere can't read yet");
  }
  const Json suffix = model.value("end_of_word_suffix", Json());
  if (suffix.is_string()) scheme.endOfWordSuffix = suffix.get<std::string>();
  if (scheme.endOfWordSuffix.size() > 0xFFFF) refuse("the end-of-word suffix is too long");
  scheme_ = scheme;
}

void HFTokenizerConverter::readMerges(const Json& model, const Vocabulary& vocabulary) {
  const Json merges = model.value("merges", Json::array());
  std::optional<SplitHashes> hashes;  // made at the first merge written as one string
  for (const Json& merge : merges.is_array() ? merges : Json::array()) {
    auto [left, right] = splitMerge(merge, vocabulary, hashes);
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
  std::string out = scheme_ ? "QMBPE2" : "QMBPE1";
  if (scheme_) {
    out.push_back(static_cast<char>(scheme_->pattern));
    out.push_back(static_cast<char>(scheme_->flags));
    appendU32(out, static_cast<std::uint32_t>(scheme_->bosID));
    appendU16(out, scheme_->endOfWordSuffix.size());
    out += scheme_->endOfWordSuffix;
  }
  appendU32(out, static_cast<std::uint32_t>(byId_.size()));
  for (const std::string& entry : byId_) {
    appendU16(out, entry.size());
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
