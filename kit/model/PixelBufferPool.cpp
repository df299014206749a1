// SPDX-License-Identifier: GPL-3.0-or-later
// The pool of reusable RGB8 input buffers of the image encoder, and its leases.
#include "model/PixelBufferPool.h"

#include <stdexcept>
#include <string>

namespace quillmere {

PixelBufferPool::Lease::Lease(std::shared_ptr<PixelBufferPool> pool,
                              std::unique_ptr<std::uint8_t[]> block, std::size_t capacity,
                              std::size_t count, std::size_t frameBytes)
    : pool_(std::move(pool)),
      block_(std::move(block)),
      capacity_(capacity),
      count_(count),
      frameBytes_(frameBytes) {}

PixelBufferPool::Lease::~Lease() {
  if (pool_ && block_) pool_->giveBack(std::move(block_), capacity_);
}

std::shared_ptr<PixelBufferPool> PixelBufferPool::create(std::int64_t side) {
  if (side < 1 || side > maxSide) {
    throw std::invalid_argument("pixel buffer side must be between 1 and " +
                                std::to_string(maxSide));
  }
  return std::shared_ptr<PixelBufferPool>(new PixelBufferPool(side));
}

PixelBufferPool::PixelBufferPool(std::int64_t side)
    : side_(side), frameBytes_(static_cast<std::size_t>(side * side * 3)) {}

PixelBufferPool::Lease PixelBufferPool::acquire(std::size_t count) {
  std::size_t frames = count == 0 ? 1 : count;
  {
    MutexLock guard(lock_);
    // The smallest idle block that fits.
    auto best = idle_.end();
    for (auto it = idle_.begin(); it != idle_.end(); ++it) {
      if (it->capacity >= frames && (best == idle_.end() || it->capacity < best->capacity)) {
        best = it;
      }
    }
    if (best != idle_.end()) {
      Idle found = std::move(*best);
      idle_.erase(best);
      return Lease(shared_from_this(), std::move(found.block), found.capacity, count, frameBytes_);
    }
  }
  auto block = std::make_unique_for_overwrite<std::uint8_t[]>(frames * frameBytes_);
  return Lease(shared_from_this(), std::move(block), frames, count, frameBytes_);
}

void PixelBufferPool::giveBack(std::unique_ptr<std::uint8_t[]> block, std::size_t capacity) {
  MutexLock guard(lock_);
  if (idle_.size() < maxIdleBuffers) {
    idle_.push_back(Idle{std::move(block), capacity});
    return;
  }
  // Keep the larger blocks: they serve every smaller batch too.
  auto smallest = idle_.begin();
  for (auto it = idle_.begin(); it != idle_.end(); ++it) {
    if (it->capacity < smallest->capacity) smallest = it;
  }
  if (smallest->capacity < capacity) *smallest = Idle{std::move(block), capacity};
}

}  // namespace quillmere
