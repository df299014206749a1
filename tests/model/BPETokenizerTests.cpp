// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <set>
#include <span>
#include <system_error>
#include <thread>

#include "model/BPETokenizer.h"
#include "model/TokenizerFile.h"
#include "support/TempDirectory.h"

namespace quillmere {
namespace {

using Ids = std::vector<std::int32_t>;

class BPETokenizerTest : public ::testing::Test {
 protected:
  BPETokenizer make(const test::TokenizerFile& file, bool lowercase = false,
                    std::int64_t contextLength = 8) {
    return BPETokenizer(file.write(dir / "tokenizer.bin"), contextLength, 0, 1, lowercase);
  }
  // The failure text for these bytes, read from a file and from memory alike.
  std::string badFileText(const std::vector<std::uint8_t>& bytes) {
    test::TokenizerFile::write(dir / "bad.bin", bytes);
    const std::string fromFile =
        failureText([&] { BPETokenizer tokenizer(dir / "bad.bin", 8, 0, 1, false); });
    const std::string fromBytes = failureText(
        [&] { BPETokenizer tokenizer(std::span<const std::uint8_t>(bytes), 8, 0, 1, false); });
    EXPECT_EQ(fromFile, fromBytes) << "the file and its bytes in memory read differently";
    return fromFile;
  }
  static std::string failureText(const std::function<void()>& construct) {
    try {
      construct();
    } catch (const BPETokenizer::Failure& failure) {
      EXPECT_EQ(failure.detail(), failure.what());
      return failure.what();
    }
    return "parsed";
  }
  test::TempDirectory dir;
};
using BPETokenizerConcurrency = BPETokenizerTest;

TEST_F(BPETokenizerTest, FirstEntryOfAScalarOrAByteWins) {
  test::TokenizerFile file;
  file.add("<pad>");
  file.add("<eos>");
  auto a = file.add("a");
  file.add("a");
  auto byte41 = file.add("<0x41>");
  file.add("<0x41>");
  auto upperA = file.add("A");  // a later one-letter entry makes A a scalar token
  auto byte42 = file.add("<0x42>");
  file.add("<0x42>");
  auto tokenizer = make(file);
  EXPECT_EQ(tokenizer.tokens("a"), Ids{a});
  EXPECT_EQ(tokenizer.tokens("A"), Ids{upperA});
  EXPECT_EQ(tokenizer.tokens("B"), Ids{byte42});  // no scalar: its byte
  EXPECT_NE(byte41, upperA);
}

TEST_F(BPETokenizerTest, ByteTokenDoesNotMakeItsLetterAScalar) {
  test::TokenizerFile file;
  auto byte41 = file.add("<0x41>");
  auto byte4a = file.add("<0x4a>");  // either letter case of hex digits
  file.add("<0xZZ>");                // not a byte token, and more than one scalar: skipped
  auto tokenizer = make(file);
  EXPECT_EQ(tokenizer.tokens("A"), Ids{byte41});
  EXPECT_EQ(tokenizer.tokens("J"), Ids{byte4a});
  EXPECT_EQ(tokenizer.tokens("Z"), Ids{});  // no id for it at all: dropped
  EXPECT_EQ(tokenizer.tokens("AJ"), (Ids{byte41, byte4a}));
}

TEST_F(BPETokenizerTest, LowerRankWinsOverPositionAndLeftmostWinsTies) {
  test::TokenizerFile file;
  auto x = file.add("x"), y = file.add("y"), z = file.add("z");
  auto p = file.add("xy"), q = file.add("yz"), fill = file.add("ww");
  for (int r = 0; r < 2; ++r) file.merge(fill, fill, fill);
  file.merge(y, z, q);  // rank 2
  for (int r = 0; r < 2; ++r) file.merge(fill, fill, fill);
  file.merge(x, y, p);  // rank 5
  auto tokenizer = make(file);
  EXPECT_EQ(tokenizer.tokens("xyz"), (Ids{x, q}));
  EXPECT_EQ(tokenizer.tokens("xy"), Ids{p});
  // One merge per pass, leftmost first: "yzyz" -> q yz -> q q.
  EXPECT_EQ(tokenizer.tokens("yzyz"), (Ids{q, q}));
  EXPECT_EQ(tokenizer.tokens("xyzxy"), (Ids{x, q, p}));
}

TEST_F(BPETokenizerTest, FirstMergeRecordOfAPairWins) {
  test::TokenizerFile file;
  auto a = file.add("a"), b = file.add("b"), c = file.add("c");
  auto ab = file.add("ab"), bc = file.add("bc"), bcLater = file.add("BC");
  file.merge(b, c, bc);       // rank 0
  file.merge(a, b, ab);       // rank 1
  file.merge(b, c, bcLater);  // same pair again: neither its rank nor its result counts
  auto tokenizer = make(file);
  EXPECT_EQ(tokenizer.tokens("abc"), (Ids{a, bc}));
  EXPECT_EQ(tokenizer.tokens("bc"), Ids{bc});
}

// The merge loop as written: rescan after every merge for the lowest rank, leftmost first.
Ids rescanningMerge(Ids ids, const test::TokenizerFile& file) {
  std::map<std::pair<std::int32_t, std::int32_t>, std::pair<std::int32_t, std::int32_t>> table;
  for (std::size_t r = 0; r < file.merges.size(); ++r) {
    const auto& [left, right, merged] = file.merges[r];
    table.emplace(std::pair{left, right}, std::pair{static_cast<std::int32_t>(r), merged});
  }
  while (ids.size() >= 2) {
    std::size_t best = ids.size();
    std::int32_t bestRank = 0, merged = 0;
    for (std::size_t i = 0; i + 1 < ids.size(); ++i) {
      auto it = table.find({ids[i], ids[i + 1]});
      if (it != table.end() && (best == ids.size() || it->second.first < bestRank)) {
        best = i;
        bestRank = it->second.first;
        merged = it->second.second;
      }
    }
    if (best == ids.size()) break;
    ids[best] = merged;
    ids.erase(ids.begin() + static_cast<std::ptrdiff_t>(best) + 1);
  }
  return ids;
}

TEST_F(BPETokenizerTest, MergesMatchTheRescanningLoopOnRandomTables) {
  std::mt19937 random(7);
  for (int table = 0; table < 20; ++table) {
    test::TokenizerFile file;
    for (char c : std::string("abcde")) file.add(std::string(1, c));
    for (int m = 0; m < 40; ++m) {
      auto pick = [&] { return static_cast<std::int32_t>(random() % file.vocab.size()); };
      std::int32_t left = pick(), right = pick();
      // Sometimes a repeated pair, sometimes a merge back into its left id.
      std::int32_t merged = random() % 8 == 0 ? left : file.add("m" + std::to_string(m));
      file.merge(left, right, merged);
      if (random() % 10 == 0) file.merge(left, right, pick());
    }
    auto tokenizer = make(file);
    for (int q = 0; q < 50; ++q) {
      std::string text;
      Ids initial;
      for (std::size_t i = random() % 40; i > 0; --i) {
        char c = static_cast<char>('a' + random() % 5);
        text += c;
        initial.push_back(c - 'a');
      }
      ASSERT_EQ(tokenizer.tokens(text), rescanningMerge(initial, file)) << text;
    }
  }
}

TEST_F(BPETokenizerTest, LongTextsMergeQuickly) {
  test::TokenizerFile file;
  auto a = file.add("a"), aa = file.add("aa");
  file.merge(a, a, aa);
  file.merge(aa, aa, aa);  // collapses any run of a's
  auto tokenizer = make(file);
  EXPECT_EQ(tokenizer.tokens(std::string(200000, 'a')), Ids{aa});
}

TEST_F(BPETokenizerTest, EmojiFallsBackToItsBytesWhichMergesMayJoin) {
  test::TokenizerFile file;
  file.addByteTokens();
  auto e0 = file.add("\xF0\x9F");
  file.merge(0xF0, 0x9F, e0);
  // U+1F600 is F0 9F 98 80; without 0x98 only three bytes have an id.
  test::TokenizerFile partial = file;
  partial.vocab[0x98] = "<0x98x>";
  EXPECT_EQ(make(file).tokens("\xF0\x9F\x98\x80"), (Ids{e0, 0x98, 0x80}));
  EXPECT_EQ(make(partial).tokens("\xF0\x9F\x98\x80"), (Ids{e0, 0x80}));
}

TEST_F(BPETokenizerTest, SpacesBecomeMarkersAndNothingElseIsTouched) {
  test::TokenizerFile file;
  file.addByteTokens();
  auto a = file.add("a"), b = file.add("b"), marker = file.add("\u2581");
  auto tokenizer = make(file);
  EXPECT_EQ(tokenizer.tokens("a  b"), (Ids{a, marker, marker, b}));
  EXPECT_EQ(tokenizer.tokens("a\tb"), (Ids{a, 0x09, b}));
  EXPECT_EQ(tokenizer.tokens(" a\n"), (Ids{marker, a, 0x0A}));
  EXPECT_EQ(tokenizer.tokens(""), Ids{});
}

TEST_F(BPETokenizerTest, LowercasingUsesTheFullDefaultMapping) {
  test::TokenizerFile file;
  file.addByteTokens();
  auto i = file.add("i"), dot = file.add("\u0307"), r = file.add("r");
  auto agrave = file.add("\u00E0"), sigma = file.add("\u03C3"), finalSigma = file.add("\u03C2");
  auto alpha = file.add("\u03B1");
  auto lower = make(file, true);
  // U+0130 lowercases to two scalars: i and a combining dot above.
  EXPECT_EQ(lower.tokens("\u0130"), (Ids{i, dot}));
  EXPECT_EQ(lower.tokens("\u00C0R"), (Ids{agrave, r}));
  EXPECT_EQ(lower.tokens("\u03A3\u0391\u03A3"), (Ids{sigma, alpha, finalSigma}));
  auto asIs = make(file, false);
  EXPECT_EQ(asIs.tokens("R"), Ids{0x52});
  // Upper and lower case share one cached result when lowercasing.
  EXPECT_EQ(lower.tokens("RRR"), lower.tokens("rrr"));
}

TEST_F(BPETokenizerTest, InvalidUTF8ReadsAsReplacementCharacter) {
  test::TokenizerFile file;
  file.addByteTokens();
  auto replacement = file.add("\xFF");  // an invalid entry decodes to U+FFFD, one scalar
  auto a = file.add("a");
  auto tokenizer = make(file);
  EXPECT_EQ(tokenizer.tokens("a\xC3"), (Ids{a, replacement}));
  EXPECT_EQ(tokenizer.tokens("\xEF\xBF\xBD"), Ids{replacement});

  // A cut-short sequence is one replacement; an overlong pair is two, so not a scalar.
  test::TokenizerFile other;
  other.addByteTokens();
  other.add("\xC0\x80");
  auto cut = other.add("\xE2\x82");
  EXPECT_EQ(make(other).tokens("\xFF"), Ids{cut});
}

TEST_F(BPETokenizerTest, EncodeCutsAddsEndAndPads) {
  test::TokenizerFile file;
  file.add("<pad>");
  file.add("<eos>");
  auto a = file.add("a");
  auto b = file.add("b");
  auto ab = file.add("ab");
  file.merge(a, b, ab);
  auto tokenizer = make(file, false, 64);
  Ids five = tokenizer.encode("ababa");
  Ids expected{ab, ab, a, 1};
  expected.resize(64, 0);
  EXPECT_EQ(five, expected);

  std::string hundred(100, 'a');
  Ids cut = tokenizer.encode(hundred);
  ASSERT_EQ(cut.size(), 64u);
  EXPECT_EQ(std::count(cut.begin(), cut.end(), a), 63);
  EXPECT_EQ(cut.back(), 1);

  Ids empty = tokenizer.encode("");
  EXPECT_EQ(empty.front(), 1);
  EXPECT_EQ(std::count(empty.begin(), empty.end(), 0), 63);
  EXPECT_EQ(tokenizer.encode("zzz"), empty);  // nothing with an id

  auto single = make(file, false, 1);
  EXPECT_EQ(single.encode("abab"), Ids{1});
  EXPECT_EQ(single.encode(""), Ids{1});
  EXPECT_EQ(single.contextLength(), 1);
  EXPECT_EQ(single.eosID(), 1);
  EXPECT_EQ(single.padID(), 0);
  EXPECT_FALSE(single.lowercase());
}

TEST_F(BPETokenizerTest, EveryCutOfTheFileNamesTheFieldThatDoesNotFit) {
  test::TokenizerFile file;
  file.add("<0x41>");
  file.add("\u2581x");
  file.add("");
  file.add("q");
  file.merge(0, 1, 3);
  file.merge(3, 3, 2);
  const std::vector<std::uint8_t> bytes = file.bytes();
  const auto fields = file.fields();
  ASSERT_EQ(fields.back().offset + fields.back().size, bytes.size());
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    std::size_t expected = 0;
    for (const auto& field : fields) {
      if (field.offset + field.size > cut) {
        expected = field.offset;
        break;
      }
    }
    std::vector<std::uint8_t> prefix(bytes.begin(), bytes.begin() + cut);
    EXPECT_EQ(badFileText(prefix), "truncated at " + std::to_string(expected)) << "cut " << cut;
  }
  EXPECT_EQ(badFileText(bytes), "parsed");
  std::vector<std::uint8_t> trailing = bytes;
  trailing.insert(trailing.end(), {1, 2, 3});
  EXPECT_EQ(badFileText(trailing), "parsed");
}

TEST_F(BPETokenizerTest, CountsThatPromiseMoreThanTheFileHolds) {
  test::TokenizerFile file;
  file.add("a");
  file.add("b");
  file.merge(0, 1, 1);
  file.merge(1, 1, 0);
  file.mergeCountOverride = 3;
  const auto fields = file.fields();
  const std::size_t end = fields.back().offset + fields.back().size;
  EXPECT_EQ(badFileText(file.bytes()), "truncated at " + std::to_string(end));
  file.mergeCountOverride = 0xFFFFFFF0;  // must fail cleanly, not allocate for it
  EXPECT_EQ(badFileText(file.bytes()), "truncated at " + std::to_string(end));

  std::vector<std::uint8_t> manyEntries{'Q', 'M', 'B', 'P', 'E', '1', 0xFF, 0xFF, 0xFF, 0x7F};
  EXPECT_EQ(badFileText(manyEntries), "truncated at 10");
}

TEST_F(BPETokenizerTest, MagicAndReadErrors) {
  test::TokenizerFile file;
  file.add("a");
  std::vector<std::uint8_t> bytes = file.bytes();
  bytes[5] = '3';
  EXPECT_EQ(badFileText(bytes), "magic");
  EXPECT_EQ(badFileText({'Q', 'M', 'B'}), "truncated at 0");
  EXPECT_EQ(badFileText({}), "truncated at 0");
  EXPECT_THROW(BPETokenizer(dir / "absent.bin", 8, 0, 1, false), std::system_error);
  EXPECT_THROW(BPETokenizer(dir.path(), 8, 0, 1, false), std::system_error);
  EXPECT_THROW(make(file, false, 0), std::invalid_argument);
}

TEST_F(BPETokenizerConcurrency, ManyThreadsTokenizeTheSameAndDistinctQueries) {
  test::TokenizerFile file;
  file.addByteTokens();
  auto a = file.add("a"), b = file.add("b"), ab = file.add("ab"), abab = file.add("abab");
  file.merge(a, b, ab);
  file.merge(ab, ab, abab);
  auto tokenizer = make(file, true);
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        std::string query = "ABAB" + std::to_string(i % 50 + t);
        Ids ids = tokenizer.tokens(query);
        std::string digits = std::to_string(i % 50 + t);
        Ids expected{abab};
        for (char d : digits) expected.push_back(static_cast<unsigned char>(d));
        if (ids != expected) ++wrong[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace quillmere
