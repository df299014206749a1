// SPDX-License-Identifier: GPL-3.0-or-later
// tools/convert_hf_tokenizer.py, run as the model tooling runs it, read back by the engine.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "model/BPETokenizer.h"
#include "support/TempDirectory.h"

namespace quillmere {
namespace {

using Json = nlohmann::json;
using Ids = std::vector<std::int32_t>;

// A SentencePiece-style BPE: specials, 256 byte tokens, then pieces.
Json gemmaLike(const Json& merges) {
  Json vocab = Json::object();
  vocab["<pad>"] = 0;
  vocab["<eos>"] = 1;
  for (int b = 0; b < 256; ++b) {
    char text[8];
    std::snprintf(text, sizeof text, "<0x%02X>", b);
    vocab[text] = 2 + b;
  }
  int id = 258;
  for (const char* piece : {"\u2581", "a", "b", "ab", "\u2581ab", "c"}) vocab[piece] = id++;
  return Json{
      {"version", "1.0"},
      {"added_tokens", Json::array({Json{{"id", 300}, {"content", "<mask>"}}})},
      {"normalizer", Json{{"type", "Replace"}}},
      {"pre_tokenizer", nullptr},
      {"model",
       Json{{"type", "BPE"}, {"byte_fallback", true}, {"vocab", vocab}, {"merges", merges}}}};
}

class Converter : public ::testing::Test {
 protected:
  int convert(const Json& json) {
    std::ofstream(dir / "tokenizer.json") << json.dump();
    return convertFile();
  }
  int convertFile() {
    std::string command = std::string(QUILLMERE_PYTHON) + " " + QUILLMERE_SOURCE_DIR +
                          "/tools/convert_hf_tokenizer.py '" + (dir / "tokenizer.json").string() +
                          "' '" + (dir / "tokenizer.bin").string() + "' 2>/dev/null";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  BPETokenizer load() { return BPETokenizer(dir / "tokenizer.bin", 16, 0, 1, false); }
  test::TempDirectory dir;
};

TEST_F(Converter, KeepsIdsMergeOrderAndByteFallback) {
  ASSERT_EQ(convert(gemmaLike(Json::array({"a b", "\u2581 ab"}))), 0);
  BPETokenizer tokenizer = load();
  EXPECT_EQ(tokenizer.tokens("ab ab"), (Ids{261, 262}));
  EXPECT_EQ(tokenizer.tokens("abc"), (Ids{261, 263}));
  EXPECT_EQ(tokenizer.tokens("\u00e9"), (Ids{2 + 0xC3, 2 + 0xA9}));
  EXPECT_EQ(tokenizer.tokens("<mask>"), (Ids{2 + '<', 2 + 'm', 259, 2 + 's', 2 + 'k', 2 + '>'}))
      << "an added token is an id, not a piece the query can spell";

  // The newer form of merges, as pairs, gives the same file.
  std::ifstream first(dir / "tokenizer.bin", std::ios::binary);
  std::string before((std::istreambuf_iterator<char>(first)), {});
  ASSERT_EQ(
      convert(gemmaLike(Json::array({Json::array({"a", "b"}), Json::array({"\u2581", "ab"})}))), 0);
  std::ifstream second(dir / "tokenizer.bin", std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(second)), {}), before);
}

// tools/make_clip_tokenizer.py's vocabulary (CLIP's layout and configuration, 400 merges);
// the ids are Hugging Face tokenizers' (npm 0.23) for the same tokenizer.json.
TEST_F(Converter, ByteLevelWithEndOfWordSuffixAsHuggingFaceTokenizes) {
  const std::string make = std::string(QUILLMERE_PYTHON) + " " + QUILLMERE_SOURCE_DIR +
                           "/tools/make_clip_tokenizer.py '" + (dir / "tokenizer.json").string() +
                           "' 400";
  ASSERT_EQ(std::system(make.c_str()), 0);
  ASSERT_EQ(convertFile(), 0);
  const BPETokenizer tokenizer(dir / "tokenizer.bin", 8, 913, 913, false);
  const std::vector<std::pair<std::string, Ids>> rows = {
      {"A photo of a DOG running on the beach!!",
       {353, 782, 777, 353, 708, 793, 566, 540, 672, 33, 289}},
      {"  it's\tDON'T\n\nwe're  ", {105, 372, 614, 556, 366, 615, 119, 357, 39, 569}},
      {"Stra\u00dfe \u00fcber E\u0301TE\u0301", {804, 195, 188, 665, 195, 852}},
      {"\U0001F436\U0001F468\u200d\U0001F469\u200d\U0001F467 2024 12:30",
       {514, 144, 182, 549, 842, 306, 304, 306, 308, 305, 306, 314, 307, 304}},
      {"\u039f\u0394\u039f\u03a3 \u0130stanbul",
       {206, 191, 206, 180, 206, 575, 387, 361, 204, 391, 526, 520, 670, 364}},
      {"a\u00a0b\u3000c\u200bd", {353, 354, 355, 596, 395, 356}},
      {" \t ", {}}};
  for (const auto& [text, ids] : rows) EXPECT_EQ(tokenizer.tokens(text), ids) << text;
  EXPECT_EQ(tokenizer.encode("A photo of a DOG running"),
            (Ids{912, 353, 782, 777, 353, 708, 793, 913}))
      << "the start token, then as many tokens as fit before the end token";
  EXPECT_EQ(tokenizer.encode("dog"), (Ids{912, 708, 913, 913, 913, 913, 913, 913}));
}

TEST_F(Converter, RefusesOtherSchemesAndBrokenMerges) {
  Json byteLevel = gemmaLike(Json::array({"a b"}));
  byteLevel["pre_tokenizer"] = Json{{"type", "ByteLevel"}};
  EXPECT_NE(convert(byteLevel), 0);
  Json unigram = gemmaLike(Json::array());
  unigram["model"]["type"] = "Unigram";
  EXPECT_NE(convert(unigram), 0);
  EXPECT_NE(convert(gemmaLike(Json::array({"a c"}))), 0);  // "ac" is not a token
}

}  // namespace
}  // namespace quillmere
