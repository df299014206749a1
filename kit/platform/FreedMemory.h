// SPDX-License-Identifier: GPL-3.0-or-later
// Memory the program has freed but the C library still holds. glibc keeps freed blocks in its
// allocation arenas for the next allocations, one arena per thread that allocated, and gives
// back to the system only the free top of the main heap; after an encoder and its runs'
// buffers go, tens of megabytes can stay resident that nothing will use until the next load.
#pragma once

namespace quillmere {

class FreedMemory {
 public:
  // Gives the free pages of every arena back to the system. For the moments after a large
  // release, not for a hot path: it walks every arena under its lock. Does nothing where the
  // C library has no such call.
  static void giveBack();
};

}  // namespace quillmere
