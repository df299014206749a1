// SPDX-License-Identifier: GPL-3.0-or-later
// Clean-up and word split of byte-level BPE tokenizers, the same as Hugging Face tokenizers'
// normalizers and Split pre-tokenizer do with the patterns they ship.
#include "model/ByteLevelScheme.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <array>

namespace quillmere {
namespace {

using Text = std::u32string;

bool isLetter(char32_t c) {
  return u_isalpha(static_cast<UChar32>(c));
}
bool isNumber(char32_t c) {
  return (U_GET_GC_MASK(static_cast<UChar32>(c)) & U_GC_N_MASK) != 0;
}
bool isSpace(char32_t c) {
  return u_isUWhiteSpace(static_cast<UChar32>(c));
}
bool isNewline(char32_t c) {
  return c == U'\r' || c == U'\n';
}
bool isOther(char32_t c) {
  return !isSpace(c) && !isLetter(c) && !isNumber(c);
}

template <typename Predicate>
std::size_t runEnd(const Text& text, std::size_t i, Predicate predicate) {
  while (i < text.size() && predicate(text[i])) ++i;
  return i;
}

// The end of "'s|'t|'re|'ve|'m|'ll|'d" at i, or i; `anyCase` folds as (?i:...) does.
std::size_t contractionEnd(const Text& text, std::size_t i, bool anyCase) {
  if (text[i] != U'\'' || i + 1 >= text.size()) return i;
  auto fold = [anyCase](char32_t c) -> char32_t {
    if (!anyCase) return c;
    if (c == U'\u017F') return U's';  // long s folds to s
    return c >= U'A' && c <= U'Z' ? c + 32 : c;
  };
  const char32_t x = fold(text[i + 1]);
  if (x == U's' || x == U't' || x == U'm' || x == U'd') return i + 2;
  if (i + 2 >= text.size()) return i;
  const char32_t y = fold(text[i + 2]);
  if ((x == U'r' && y == U'e') || (x == U'v' && y == U'e') || (x == U'l' && y == U'l')) {
    return i + 3;
  }
  return i;
}

// One match of CLIP's pattern at i: [start, end); start == end for dropped whitespace. The
// start and end tokens are never spelt by a query.
std::pair<std::size_t, std::size_t> clipWord(const Text& text, std::size_t i) {
  if (std::size_t end = contractionEnd(text, i, false); end != i) return {i, end};
  const char32_t c = text[i];
  if (isLetter(c)) return {i, runEnd(text, i, isLetter)};
  if (isNumber(c)) return {i, i + 1};
  if (isOther(c)) return {i, runEnd(text, i, isOther)};
  return {i + 1, i + 1};
}

// The end of Llama 3's pattern at i; every character starts some alternative.
std::size_t llama3WordEnd(const Text& text, std::size_t i) {
  const std::size_t n = text.size();
  if (std::size_t end = contractionEnd(text, i, true); end != i) return end;
  // [^\r\n\p{L}\p{N}]?\p{L}+
  const char32_t c = text[i];
  if (isLetter(c)) return runEnd(text, i, isLetter);
  if (!isNewline(c) && !isNumber(c) && i + 1 < n && isLetter(text[i + 1])) {
    return runEnd(text, i + 1, isLetter);
  }
  // \p{N}{1,3}
  if (isNumber(c)) {
    std::size_t end = i + 1;
    while (end < n && end < i + 3 && isNumber(text[end])) ++end;
    return end;
  }
  // " ?[^\s\p{L}\p{N}]+[\r\n]*"
  std::size_t start = c == U' ' && i + 1 < n && isOther(text[i + 1]) ? i + 1 : i;
  if (isOther(text[start])) return runEnd(text, runEnd(text, start, isOther), isNewline);
  // \s*[\r\n]+ ends at the run's last newline; \s+(?!\S) leaves the run's last space to the
  // next word; \s+ takes a lone space.
  const std::size_t end = runEnd(text, i, isSpace);
  for (std::size_t p = end; p > i; --p) {
    if (isNewline(text[p - 1])) return p;
  }
  if (end == n || end - i == 1) return end;
  return end - 1;
}

void appendUTF8(std::string& out, char32_t c) {
  std::uint8_t bytes[4];
  std::int32_t count = 0;
  U8_APPEND_UNSAFE(bytes, count, static_cast<UChar32>(c));
  out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(count));
}

std::string utf8Of(const Text& text, std::size_t start, std::size_t end) {
  std::string out;
  for (std::size_t i = start; i < end; ++i) appendUTF8(out, text[i]);
  return out;
}

// Hugging Face's Lowercase: each character's own full lower case, with no context.
void lowerEach(Text& text) {
  Text out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if (c == U'\u0130') {
      out += U"i\u0307";
    } else {
      out.push_back(static_cast<char32_t>(u_tolower(static_cast<UChar32>(c))));
    }
  }
  text = std::move(out);
}

Text collapseSpaces(const Text& text) {
  Text out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (isSpace(text[i])) {
      out.push_back(U' ');
      i = runEnd(text, i, isSpace);
    } else {
      out.push_back(text[i++]);
    }
  }
  return out;
}

Text charactersIn(std::string_view utf8, bool nfc) {
  icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
      icu::StringPiece(utf8.data(), static_cast<std::int32_t>(utf8.size())));
  if (nfc) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    if (U_SUCCESS(status)) {
      icu::UnicodeString normalized = normalizer->normalize(unicode, status);
      if (U_SUCCESS(status)) unicode = normalized;
    }
  }
  Text out;
  out.reserve(static_cast<std::size_t>(unicode.length()));
  for (std::int32_t i = 0; i < unicode.length();) {
    UChar32 c = unicode.char32At(i);
    i += U16_LENGTH(c);
    out.push_back(static_cast<char32_t>(c));
  }
  return out;
}

// GPT-2's table: printable Latin-1 bytes stand for themselves, the other 68 take the
// characters from U+0100 on, in byte order.
struct ByteTable {
  std::array<char32_t, 256> characters{};
  ByteTable() {
    char32_t next = 256;
    for (int b = 0; b < 256; ++b) {
      const bool printable = (b >= 33 && b <= 126) || (b >= 161 && b <= 172) || b >= 174;
      characters[b] = printable ? static_cast<char32_t>(b) : next++;
    }
  }
};

const ByteTable& byteTable() {
  static const ByteTable table;
  return table;
}

}  // namespace

bool ByteLevelScheme::knows(std::uint8_t pattern) {
  return pattern == static_cast<std::uint8_t>(Pattern::clip) ||
         pattern == static_cast<std::uint8_t>(Pattern::llama3);
}

std::vector<std::string> ByteLevelScheme::words(std::string_view utf8, bool lower) const {
  Text text = charactersIn(utf8, (flags & cleanUp) != 0);
  if (flags & cleanUp) text = collapseSpaces(text);
  if (lower || (flags & lowercase)) lowerEach(text);
  std::vector<std::string> out;
  for (std::size_t i = 0; i < text.size();) {
    if (pattern == Pattern::clip) {
      auto [start, end] = clipWord(text, i);
      if (start != end) out.push_back(utf8Of(text, start, end));
      i = end;
    } else {
      const std::size_t end = llama3WordEnd(text, i);
      out.push_back(utf8Of(text, i, end));
      i = end;
    }
  }
  return out;
}

char32_t ByteLevelScheme::characterOf(std::uint8_t byte) {
  return byteTable().characters[byte];
}

int ByteLevelScheme::byteOf(char32_t character) {
  if (character < 256) {
    return byteTable().characters[character] == character ? static_cast<int>(character) : -1;
  }
  for (int b = 0; b < 256; ++b) {
    if (byteTable().characters[b] == character) return b;
  }
  return -1;
}

std::string ByteLevelScheme::charactersOf(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char b : bytes) appendUTF8(out, characterOf(static_cast<std::uint8_t>(b)));
  return out;
}

}  // namespace quillmere
