// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "core/Utf8.h"

namespace quillmere {
namespace {

// One piece as a case writes it: the code point (U+FFFD for ill-formed) and its byte count.
struct Expected {
  char32_t character;
  std::size_t length;
  bool wellFormed;

  bool operator==(const Expected&) const = default;
};

constexpr Expected bad(std::size_t length) {
  return {0xFFFD, length, false};
}

std::vector<Expected> walk(std::string_view text) {
  std::vector<Expected> pieces;
  for (std::size_t offset = 0; offset < text.size();) {
    const std::size_t before = offset;
    const Utf8::Piece piece = Utf8::next(text, offset);
    EXPECT_EQ(piece.bytes.data(), text.data() + before);
    EXPECT_EQ(offset, before + piece.bytes.size());
    pieces.push_back({piece.character, piece.bytes.size(), piece.wellFormed});
  }
  return pieces;
}

struct WalkCase {
  std::string name;
  std::string text;
  std::vector<Expected> pieces;
};

TEST(Utf8, SplitsTextIntoCharactersAndMaximalIllFormedPieces) {
  const std::vector<WalkCase> cases = {
      {"empty", "", {}},
      {"ascii and NUL", std::string("a\0b", 3), {{'a', 1, true}, {0, 1, true}, {'b', 1, true}}},
      {"two bytes", "\xC3\xA9", {{0xE9, 2, true}}},
      {"three bytes", "\xE2\x82\xAC", {{0x20AC, 3, true}}},
      {"four bytes", "\xF0\x9D\x84\x9E", {{0x1D11E, 4, true}}},
      {"noncharacter U+FFFF", "\xEF\xBF\xBF", {{0xFFFF, 3, true}}},
      {"highest code point", "\xF4\x8F\xBF\xBF", {{0x10FFFF, 4, true}}},
      // The example of the Unicode Standard's chapter 3 on U+FFFD substitution.
      {"standard example",
       "a\xF1\x80\x80\xE1\x80\xC2"
       "b\x80"
       "c\x80\xBF"
       "d",
       {{'a', 1, true},
        bad(3),
        bad(2),
        bad(1),
        {'b', 1, true},
        bad(1),
        {'c', 1, true},
        bad(1),
        bad(1),
        {'d', 1, true}}},
      {"overlong two bytes", "\xC0\x80", {bad(1), bad(1)}},
      {"overlong three bytes", "\xE0\x80\x80", {bad(1), bad(1), bad(1)}},
      {"surrogate", "\xED\xA0\x80", {bad(1), bad(1), bad(1)}},
      {"above U+10FFFF", "\xF4\x90\x80\x80", {bad(1), bad(1), bad(1), bad(1)}},
      {"never a lead byte", "\xF5\xFF", {bad(1), bad(1)}},
      {"truncated at the end", "x\xF0\x9F\x98", {{'x', 1, true}, bad(3)}},
      {"truncated before ascii",
       "\xE2\x82"
       "A",
       {bad(2), {'A', 1, true}}},
      {"latin-1 name",
       "caf\xE9.jpg",
       {{'c', 1, true},
        {'a', 1, true},
        {'f', 1, true},
        bad(1),
        {'.', 1, true},
        {'j', 1, true},
        {'p', 1, true},
        {'g', 1, true}}},
  };
  for (const WalkCase& c : cases) EXPECT_EQ(walk(c.text), c.pieces) << c.name;
}

TEST(Utf8, NeverReadsPastTheEndOfTheView) {
  // The full sequence is in memory, but the view ends two bytes in.
  const std::string euro = "\xE2\x82\xAC";
  EXPECT_EQ(walk(std::string_view(euro).substr(0, 2)), std::vector<Expected>{bad(2)});
  EXPECT_FALSE(Utf8::isValid(std::string_view(euro).substr(0, 2)));
  EXPECT_TRUE(Utf8::isValid(euro));
}

TEST(Utf8, IsValidOnlyWhenEveryPieceIsWellFormed) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"", true},
      {"plain.jpg", true},
      {"\xE5\x86\x99\xE7\x9C\x9F \xF0\x9F\x93\xB7.heic", true},
      {std::string("nul\0inside", 10), true},
      {"\xEF\xBF\xBD", true},
      {"caf\xE9", false},
      {"\xC0\xAF", false},
      {"\xED\xBF\xBF", false},
      {"\xF4\x90\x80\x80", false},
      {"ok\xF0\x9F\x93", false},
      {"\x80", false},
      {"renamed dir\xFF", false},
  };
  for (const auto& [text, valid] : cases) EXPECT_EQ(Utf8::isValid(text), valid) << text;
}

}  // namespace
}  // namespace quillmere
