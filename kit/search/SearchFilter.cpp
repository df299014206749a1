// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a file passes a search filter of kinds, folders and capture times.
#include "search/SearchFilter.h"

namespace quillmere {

bool SearchFilter::admits(const MediaFile& file) const {
  if (!kinds.contains(file.kind)) return false;
  if (roots && !roots->contains(file.rootID)) return false;
  if (files && !files->contains(file.id)) return false;
  if (!takenFrom && !takenBefore) return true;
  const double taken = file.taken ? file.taken->seconds : file.mtime;
  return (!takenFrom || taken >= *takenFrom) && (!takenBefore || taken < *takenBefore);
}

}  // namespace quillmere
