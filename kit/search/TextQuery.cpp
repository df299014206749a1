// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/TextQuery.h"

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>

#include "core/TextFolding.h"
#include "core/Utf8.h"
#include "search/QueryTerms.h"

namespace quillmere {
namespace {

std::u32string characters(std::string_view text) {
  std::u32string out;
  for (std::size_t at = 0; at < text.size();) out += Utf8::next(text, at).character;
  return out;
}

int slipsAllowed(std::size_t letters) {
  if (letters <= 3) return 0;
  return letters <= 8 ? 1 : 2;
}

void add(std::vector<TextQuery::Piece>& pieces, std::string_view text, bool phrase) {
  std::string folded = TextFolding::folded(text);
  const std::size_t letters = characters(folded).size();
  if (letters < TextQuery::leastLetters) return;
  if (std::any_of(pieces.begin(), pieces.end(),
                  [&](const TextQuery::Piece& piece) { return piece.folded == folded; })) {
    return;
  }
  pieces.push_back({.folded = std::move(folded),
                    .slips = phrase ? 0 : slipsAllowed(letters),
                    .weight = letters - 2});
}

// Words split at white space, each without the punctuation around it ("Brooklyn," is
// "Brooklyn").
void addWords(std::vector<TextQuery::Piece>& pieces, std::string_view text) {
  const icu::UnicodeString source = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
  icu::UnicodeString word;
  auto flush = [&] {
    while (!word.isEmpty() && u_ispunct(word.char32At(0)))
      word.remove(0, U16_LENGTH(word.char32At(0)));
    while (!word.isEmpty() && u_ispunct(word.char32At(word.length() - 1))) {
      word.truncate(word.length() - U16_LENGTH(word.char32At(word.length() - 1)));
    }
    std::string utf8;
    word.toUTF8String(utf8);
    add(pieces, utf8, false);
    word.remove();
  };
  for (std::int32_t i = 0; i < source.length();) {
    const UChar32 c = source.char32At(i);
    i += U16_LENGTH(c);
    if (u_isUWhiteSpace(c)) {
      flush();
    } else {
      word.append(c);
    }
  }
  flush();
}

}  // namespace

std::vector<TextQuery::Piece> TextQuery::pieces(std::string_view query) {
  std::vector<Piece> pieces;
  for (const QueryTerms::Term& term : QueryTerms::parse(query)) {
    if (term.weight <= 0) continue;
    const std::string_view text = term.text;
    // Outside quotes: words; inside a pair of them: one phrase. An unclosed quote is a word's.
    std::size_t from = 0;
    for (;;) {
      const std::size_t open = text.find('"', from);
      const std::size_t close = open == std::string_view::npos ? open : text.find('"', open + 1);
      if (close == std::string_view::npos) {
        addWords(pieces, text.substr(from));
        break;
      }
      addWords(pieces, text.substr(from, open - from));
      add(pieces, text.substr(open + 1, close - open - 1), true);
      from = close + 1;
    }
  }
  return pieces;
}

std::optional<int> TextQuery::slipsIn(std::string_view piece, std::string_view line, int most) {
  // Edit distance with a free start and end in the line (Sellers): column i holds the
  // fewest edits that make the first i characters of piece end at the current place.
  const std::u32string p = characters(piece);
  const std::u32string t = characters(line);
  std::vector<int> previous(p.size() + 1), current(p.size() + 1);
  for (std::size_t i = 0; i <= p.size(); ++i) previous[i] = static_cast<int>(i);
  int best = previous.back();
  for (const char32_t c : t) {
    current[0] = 0;
    for (std::size_t i = 1; i <= p.size(); ++i) {
      current[i] = std::min(
          {previous[i - 1] + (p[i - 1] == c ? 0 : 1), previous[i] + 1, current[i - 1] + 1});
    }
    best = std::min(best, current.back());
    std::swap(previous, current);
  }
  if (best > most) return std::nullopt;
  return best;
}

}  // namespace quillmere
