// SPDX-License-Identifier: GPL-3.0-or-later
// Background priority for the threads that index, as the desktop's own indexers run theirs:
// the lowest CPU niceness and the lowest best-effort I/O priority. Both are per thread on
// Linux and pass to the threads a thread starts. Lowering cannot be undone without a
// privilege, so only threads made for background work call it.
#pragma once

namespace quillmere {

class ThreadPriority {
 public:
  // Lowers the calling thread's CPU and I/O priority. Best effort: a system that refuses
  // leaves the thread as it was.
  static void background();

  // The calling thread's niceness (0 normally, 19 after background()).
  static int niceness();

  static constexpr int backgroundNiceness = 19;
};

}  // namespace quillmere
