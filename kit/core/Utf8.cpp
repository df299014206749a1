// SPDX-License-Identifier: GPL-3.0-or-later
// The UTF-8 walk over any bytes, one character or one ill-formed piece at a time.
#include "core/Utf8.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>

namespace quillmere {

Utf8::Piece Utf8::next(std::string_view text, std::size_t& offset) {
  // No sequence is longer than four bytes, so ICU never needs to see more; this also keeps
  // its 32-bit lengths safe for text of any size.
  const std::string_view rest = text.substr(offset);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(rest.data());
  const auto length = static_cast<std::int32_t>(std::min<std::size_t>(rest.size(), 4));
  std::int32_t used = 0;
  UChar32 c = 0;
  U8_NEXT(bytes, used, length, c);
  const auto size = static_cast<std::size_t>(used);
  offset += size;
  if (c < 0) return {0xFFFD, rest.substr(0, size), false};
  return {static_cast<char32_t>(c), rest.substr(0, size), true};
}

bool Utf8::isValid(std::string_view text) {
  for (std::size_t offset = 0; offset < text.size();) {
    if (!next(text, offset).wellFormed) return false;
  }
  return true;
}

}  // namespace quillmere
