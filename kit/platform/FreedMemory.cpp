// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FreedMemory.h"

#include <cstdlib>  // says, through __GLIBC__, whether the C library is glibc
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace quillmere {

void FreedMemory::giveBack() {
#if defined(__GLIBC__)
  // 0: keep no padding at the heap's top; every arena's free pages go, not only the top.
  ::malloc_trim(0);
#endif
}

}  // namespace quillmere
