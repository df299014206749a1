// SPDX-License-Identifier: GPL-3.0-or-later
// Text as searching compares it: read text and typed words meet with case, accents and
// spaces set aside, since the recogniser often drops the spaces between words
// ("PLATFORM7DEPARTURES").
#pragma once

#include <string>
#include <string_view>

namespace quillmere {

class TextFolding {
 public:
  // Unicode full case folding ("Straße" to "strasse"), combining marks removed after
  // canonical decomposition ("Café" to "cafe"), white space removed, then composed again
  // (NFC). Bytes that are not UTF-8 become U+FFFD.
  static std::string folded(std::string_view text);

  TextFolding() = delete;
};

}  // namespace quillmere
