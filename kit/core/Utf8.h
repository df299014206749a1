// SPDX-License-Identifier: GPL-3.0-or-later
// UTF-8 as file names and user text meet it: any bytes at all. A walk hands out one
// character at a time, or one ill-formed sequence (the longest prefix of a sequence that
// could still have been well-formed, or a single byte), the way ICU and web browsers split
// text, so a caller replacing each ill-formed piece with U+FFFD matches them.
#pragma once

#include <cstddef>
#include <string_view>

namespace quillmere {

class Utf8 {
 public:
  // U+FFFD REPLACEMENT CHARACTER, encoded.
  static constexpr std::string_view replacement = "\xEF\xBF\xBD";

  struct Piece {
    char32_t character = 0;  // the code point; U+FFFD when ill-formed
    std::string_view bytes;  // the bytes it covers, never empty
    bool wellFormed = false;
  };

  // The piece starting at offset (which must be below text.size()); moves offset past it.
  static Piece next(std::string_view text, std::size_t& offset);

  // True when every byte belongs to a well-formed character: no surrogates, no overlong
  // forms, nothing above U+10FFFF, no truncated sequence.
  static bool isValid(std::string_view text);

  Utf8() = delete;
};

}  // namespace quillmere
