// SPDX-License-Identifier: GPL-3.0-or-later
#include "indexer/DecodeBudget.h"

#include <unistd.h>

#include <algorithm>

namespace quillmere {

DecodeBudget::DecodeBudget(std::int64_t bytes) : total_(std::max<std::int64_t>(bytes, 1)) {}

DecodeBudget& DecodeBudget::shared() {
  static DecodeBudget budget([] {
    constexpr std::int64_t mib = 1 << 20;
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const std::int64_t memory =
        pages > 0 && pageSize > 0 ? std::int64_t{pages} * pageSize : std::int64_t{8192} * mib;
    return std::clamp(memory / 8, 256 * mib, 2048 * mib);
  }());
  return budget;
}

std::int64_t DecodeBudget::estimate(std::int64_t width, std::int64_t height) {
  // Measured: a 16384 x 16384 GIF took 1.3 GB more at its peak, about 5 bytes a pixel.
  return std::max<std::int64_t>(width, 1) * std::max<std::int64_t>(height, 1) * 5;
}

std::int64_t DecodeBudget::inUse() const {
  MutexLock guard(lock_);
  return used_;
}

void DecodeBudget::take(std::int64_t bytes) {
  MutexLock guard(lock_);
  // Alone, anything fits: a picture larger than the budget is decoded by itself.
  while (holders_ > 0 && used_ + bytes > total_) released_.wait(guard);
  used_ += bytes;
  ++holders_;
}

void DecodeBudget::give(std::int64_t bytes) {
  {
    MutexLock guard(lock_);
    used_ -= bytes;
    --holders_;
  }
  released_.notify_all();
}

DecodeBudget::Hold::Hold(DecodeBudget& budget, std::int64_t bytes)
    : budget_(budget), bytes_(std::max<std::int64_t>(bytes, 0)) {
  budget_.take(bytes_);
}

DecodeBudget::Hold::~Hold() {
  budget_.give(bytes_);
}

}  // namespace quillmere
