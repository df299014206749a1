// SPDX-License-Identifier: GPL-3.0-or-later
// The byte-level BPE scheme (GPT-2 / CLIP / Llama 3 tokenizers) as a QMBPE2 file describes it:
// the text clean-up, the split into words by one of the known patterns (written out by hand,
// so loading compiles no regular expression), the byte-to-character table, the end-of-word
// suffix and the start token.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

class ByteLevelScheme {
 public:
  // The pre-tokenizer's Split pattern; the values are stored in the file.
  enum class Pattern : std::uint8_t {
    clip = 1,    // CLIP's: letter runs, single digits, other runs; whitespace dropped
    llama3 = 2,  // Llama 3's (cl100k-like): words with a leading mark, 1-3 digits, isolated
  };
  // Flag bits as stored in the file.
  static constexpr std::uint8_t cleanUp = 1;       // NFC, then each whitespace run -> " "
  static constexpr std::uint8_t lowercase = 2;     // per-character full lower case
  static constexpr std::uint8_t ignoreMerges = 4;  // a word in the vocabulary is one id

  Pattern pattern = Pattern::clip;
  std::uint8_t flags = 0;
  std::int32_t bosID = -1;  // -1: no start token
  std::string endOfWordSuffix;

  static bool knows(std::uint8_t pattern);

  // The words of a UTF-8 text (invalid sequences read as U+FFFD), after the clean-up the
  // flags ask for (lower-casing also when `lower`), each as its UTF-8 bytes.
  std::vector<std::string> words(std::string_view text, bool lower) const;

  // The character GPT-2's table gives a byte, and back (-1 for a character not in the table).
  static char32_t characterOf(std::uint8_t byte);
  static int byteOf(char32_t character);
  // UTF-8 of the characters of the bytes.
  static std::string charactersOf(std::string_view bytes);
};

}  // namespace quillmere
