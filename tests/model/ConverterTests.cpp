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
