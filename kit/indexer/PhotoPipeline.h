// SPDX-License-Identifier: GPL-3.0-or-later
// The way of a batch of photos into the library: decoded in parallel (the next batch may
// decode ahead on one thread while this one is stored), run through the stages, stored in
// one write (one by one when it fails), then settled: failures marked, the owner told, and
// every photo booked with its share of the batch's time.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "core/Records.h"
#include "index/Library.h"
#include "indexer/PipelineParts.h"
#include "indexer/ProgressMeter.h"
#include "scan/FrameSampler.h"

namespace quillmere {

class PhotoPipeline {
 public:
  struct Job {
    MediaFile file;
    std::filesystem::path path;
  };

  // One batch on its way through decode, stages, store and settle; slot i of every list
  // belongs to jobs[i].
  struct Batch {
    Batch(std::vector<Job> jobs, std::int64_t pixels);
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
    // Stops the decoder ahead, if any: the photos it has not taken stay for the batch's
    // own decoders.
    void halt();
    const std::vector<Job> jobs;
    const std::int64_t pixels;  // the decode's longest side
    std::vector<std::optional<FrameSampler::Sampled>> sampled;
    std::vector<std::optional<Bytes>> thumbnails;
    std::vector<std::optional<CaptureTime>> taken;  // from the header each decode reads
    std::vector<std::optional<std::string>> errors;
    std::vector<bool> stale;  // removed or changed by a scan meanwhile: neither stored nor marked
    std::vector<Library::FrameBatchEntry> entries;  // what is stored, in slot order
    std::vector<std::size_t> entryIndex;            // the slot of each entry
    std::atomic<std::size_t> nextJob{0};            // the next slot a decoder takes
    // Decodes while the batch before is stored and settled; last, so that it is stopped and
    // joined before the slots it writes go.
    std::jthread ahead;
  };

  explicit PhotoPipeline(PipelineParts parts) : parts_(parts) {}

  // Starts decoding the batch on one thread of its own, before its turn.
  static void decodeAhead(Batch& batch);
  // Decodes, runs the stages, stores and settles the batch; embedded is called between the
  // stages and the store, once the encoder no longer needs every core.
  void index(Batch& batch, const std::function<void()>& embedded);

 private:
  using Clock = ProgressMeter::Clock;

  // Decodes the photos no decoder has taken yet in parallel, with their thumbnails, and
  // waits for the decoder ahead; a failure becomes the slot's error. The decoders together
  // are never more than the hardware threads.
  static void decode(Batch& batch);
  // Takes and decodes photos of the batch until none is left or stop is asked.
  static void decodeSome(Batch& batch, std::stop_token stop);
  static void decodeOne(Batch& batch, std::size_t i);
  // Runs the stages over the decoded photos and makes the entries of those still listed.
  void embed(Batch& batch);
  // Stores the entries in one write, or one by one when the batch write fails.
  void store(Batch& batch);
  void storeOneByOne(Batch& batch, const std::exception_ptr& batchError);
  void settle(Batch& batch, Clock::time_point started);

  PipelineParts parts_;
};

}  // namespace quillmere
