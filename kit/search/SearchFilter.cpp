// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/SearchFilter.h"

namespace quillmere {

bool SearchFilter::admits(const MediaFile& file) const {
  if (!kinds.contains(file.kind)) return false;
  return !roots || roots->contains(file.rootID);
}

}  // namespace quillmere
