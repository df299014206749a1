// SPDX-License-Identifier: GPL-3.0-or-later
// How much memory the photos being decoded at once may take. Each decode takes its estimate
// (from the pixels its file declares) before it starts and gives it back when done; one that
// does not fit waits for others to finish. A decode larger than the whole budget runs alone,
// so every file is still decoded, one at a time if it must.
#pragma once

#include <condition_variable>
#include <cstdint>

#include "core/ThreadAnnotations.h"

namespace quillmere {

class DecodeBudget {
 public:
  explicit DecodeBudget(std::int64_t bytes);
  DecodeBudget(const DecodeBudget&) = delete;
  DecodeBudget& operator=(const DecodeBudget&) = delete;

  // The process's budget for photo decodes: an eighth of the memory, between 256 MiB and 2 GiB.
  static DecodeBudget& shared();
  // The memory a decode of a width x height picture may need at its peak.
  static std::int64_t estimate(std::int64_t width, std::int64_t height);

  // Taken on construction (waiting until it fits), given back on destruction.
  class Hold {
   public:
    Hold(DecodeBudget& budget, std::int64_t bytes);
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    DecodeBudget& budget_;
    std::int64_t bytes_;
  };

  std::int64_t total() const { return total_; }
  std::int64_t inUse() const;

 private:
  void take(std::int64_t bytes);
  void give(std::int64_t bytes);

  const std::int64_t total_;
  mutable Mutex lock_;
  std::condition_variable_any released_;
  std::int64_t used_ GUARDED_BY(lock_) = 0;
  int holders_ GUARDED_BY(lock_) = 0;
};

}  // namespace quillmere
