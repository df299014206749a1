// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a file passes a search filter of kinds and folders.
#include "search/SearchFilter.h"

namespace quillmere {

bool SearchFilter::admits(const MediaFile& file) const {
  if (!kinds.contains(file.kind)) return false;
  return !roots || roots->contains(file.rootID);
}

}  // namespace quillmere
