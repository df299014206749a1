// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/TextFolding.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <stdexcept>

namespace quillmere {
namespace {

const icu::Normalizer2& normalizer(bool decompose) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* found = decompose ? icu::Normalizer2::getNFDInstance(status)
                                            : icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status) || !found) throw std::runtime_error(u_errorName(status));
  return *found;
}

bool setAside(UChar32 c) {
  return u_charType(c) == U_NON_SPACING_MARK || u_isUWhiteSpace(c);
}

}  // namespace

std::string TextFolding::folded(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString source = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
  // Folding after decomposition catches letters whose folded form has marks of its own.
  icu::UnicodeString split = normalizer(true).normalize(source, status);
  split.foldCase(U_FOLD_CASE_DEFAULT);
  icu::UnicodeString kept;
  for (std::int32_t i = 0; i < split.length();) {
    const UChar32 c = split.char32At(i);
    if (!setAside(c)) kept.append(c);
    i += U16_LENGTH(c);
  }
  const icu::UnicodeString joined = normalizer(false).normalize(kept, status);
  if (U_FAILURE(status)) return {};
  std::string out;
  joined.toUTF8String(out);
  return out;
}

}  // namespace quillmere
