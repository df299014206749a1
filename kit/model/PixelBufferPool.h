// SPDX-License-Identifier: GPL-3.0-or-later
// Reusable RGB8 buffers for the image encoder's input: a lease holds `count` square frames of
// side x side x 3 bytes back to back, the layout of one [count, side, side, 3] batch tensor.
// Returned buffers are kept for the next lease, so steady batches allocate nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/ThreadAnnotations.h"

namespace quillmere {

class PixelBufferPool : public std::enable_shared_from_this<PixelBufferPool> {
 public:
  class Lease {
   public:
    Lease(Lease&&) noexcept = default;
    Lease& operator=(Lease&&) noexcept = default;
    ~Lease();

    std::uint8_t* data() { return block_.get(); }
    std::uint8_t* frame(std::size_t index) { return block_.get() + index * frameBytes_; }
    std::size_t count() const { return count_; }
    std::size_t size() const { return count_ * frameBytes_; }

   private:
    friend class PixelBufferPool;
    Lease(std::shared_ptr<PixelBufferPool> pool, std::unique_ptr<std::uint8_t[]> block,
          std::size_t capacity, std::size_t count, std::size_t frameBytes);

    std::shared_ptr<PixelBufferPool> pool_;
    std::unique_ptr<std::uint8_t[]> block_;
    std::size_t capacity_;  // frames the block can hold
    std::size_t count_;
    std::size_t frameBytes_;
  };

  // Throws std::invalid_argument for a side below 1 or above maxSide.
  static std::shared_ptr<PixelBufferPool> create(std::int64_t side);

  // A separate buffer for each caller; safe on many threads.
  Lease acquire(std::size_t count);

  std::int64_t side() const { return side_; }
  std::size_t frameBytes() const { return frameBytes_; }

  static constexpr std::int64_t maxSide = 8192;
  static constexpr std::size_t maxIdleBuffers = 4;

 private:
  explicit PixelBufferPool(std::int64_t side);
  void giveBack(std::unique_ptr<std::uint8_t[]> block, std::size_t capacity);

  struct Idle {
    std::unique_ptr<std::uint8_t[]> block;
    std::size_t capacity;
  };
  std::int64_t side_;
  std::size_t frameBytes_;
  Mutex lock_;
  std::vector<Idle> idle_ GUARDED_BY(lock_);
};

}  // namespace quillmere
