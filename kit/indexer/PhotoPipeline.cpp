// SPDX-License-Identifier: GPL-3.0-or-later
#include "indexer/PhotoPipeline.h"

#include <algorithm>
#include <utility>

#include "indexer/DecodeBudget.h"
#include "indexer/FileOutcomes.h"
#include "indexer/Indexer.h"
#include "indexer/StageSet.h"
#include "indexer/WriteRefusals.h"
#include "platform/ImageCodec.h"
#include "scan/CaptureTimeReader.h"

namespace quillmere {

PhotoPipeline::Batch::Batch(std::vector<Job> jobs, std::int64_t pixels)
    : jobs(std::move(jobs)),
      pixels(pixels),
      sampled(this->jobs.size()),
      thumbnails(this->jobs.size()),
      taken(this->jobs.size()),
      errors(this->jobs.size()),
      stale(this->jobs.size(), false) {}

void PhotoPipeline::Batch::halt() {
  if (!ahead.joinable()) return;
  ahead.request_stop();
  ahead.join();
}

void PhotoPipeline::decodeAhead(Batch& batch) {
  batch.ahead = std::jthread([&batch](std::stop_token halt) { decodeSome(batch, halt); });
}

void PhotoPipeline::index(Batch& batch, const std::function<void()>& embedded) {
  parts_.progress.working(batch.jobs.back().file.name());
  parts_.progress.report(false);
  const Clock::time_point started = Clock::now();
  decode(batch);
  embed(batch);
  embedded();
  store(batch);
  settle(batch, started);
}

void PhotoPipeline::decode(Batch& batch) {
  const std::size_t n = batch.jobs.size();
  // Each decoder writes only the slots it takes; the slots are read after every decoder,
  // the one ahead included, has been joined.
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t left = n - std::min(n, batch.nextJob.load());
  // The decoder ahead is one of them while it runs.
  const std::size_t room = batch.ahead.joinable() && cores > 1 ? cores - 1 : cores;
  const std::size_t workers = std::max<std::size_t>(1, std::min(left, room));
  {
    std::vector<std::jthread> helpers;
    for (std::size_t w = 1; w < workers; ++w) {
      helpers.emplace_back([&batch](std::stop_token stop) { decodeSome(batch, stop); });
    }
    decodeSome(batch, {});
  }
  if (batch.ahead.joinable()) batch.ahead.join();
}

void PhotoPipeline::decodeSome(Batch& batch, std::stop_token stop) {
  while (!stop.stop_requested()) {
    const std::size_t i = batch.nextJob++;
    if (i >= batch.jobs.size()) return;
    decodeOne(batch, i);
  }
}

void PhotoPipeline::decodeOne(Batch& batch, std::size_t i) {
  try {
    const auto header = ImageCodec::header(batch.jobs[i].path);
    if (!header) throw FrameSampler::Failure(FrameSampler::Failure::Reason::unreadable);
    batch.taken[i] = CaptureTimeReader::fromHeader(*header, batch.jobs[i].file.mtime);
    // Huge pictures decode a few at a time, whatever the number of workers.
    const DecodeBudget::Hold hold(DecodeBudget::shared(),
                                  DecodeBudget::estimate(header->width, header->height));
    FrameSampler::Sampled result = FrameSampler::photo(batch.jobs[i].path, *header, batch.pixels);
    if (result.frames.empty()) {
      throw FrameSampler::Failure(FrameSampler::Failure::Reason::unreadable);
    }
    batch.thumbnails[i] =
        FrameSampler::thumbnailData(result.frames.front().image, Indexer::thumbnailPixels);
    batch.sampled[i] = std::move(result);
  } catch (...) {
    batch.errors[i] = FileOutcomes::messageOf(std::current_exception());
  }
}

void PhotoPipeline::embed(Batch& batch) {
  std::vector<std::size_t> ok;
  std::vector<StagePicture> pictures;
  for (std::size_t i = 0; i < batch.jobs.size(); ++i) {
    if (!batch.sampled[i]) continue;
    ok.push_back(i);
    pictures.push_back(
        {.file = batch.jobs[i].file, .image = batch.sampled[i]->frames.front().image});
  }
  if (ok.empty()) return;
  try {
    StageSet::Output output = parts_.stages.run(pictures);
    for (std::size_t k = 0; k < ok.size(); ++k) {
      const std::size_t i = ok[k];
      // Removed or changed by a scan while it was decoded: nothing to store for it.
      if (!parts_.outcomes.stillListed(batch.jobs[i].file)) {
        batch.stale[i] = true;
        continue;
      }
      batch.entries.push_back({.file = batch.jobs[i].file,
                               .frames = {FrameRecord{.time = 0,
                                                      .vector = output.vectors[k],
                                                      .thumbnail = std::move(batch.thumbnails[i])}},
                               .duration = 0,
                               .width = static_cast<int>(batch.sampled[i]->width),
                               .height = static_cast<int>(batch.sampled[i]->height),
                               .taken = batch.taken[i],
                               .stages = std::move(output.others[k])});
      batch.entryIndex.push_back(i);
    }
  } catch (...) {
    const std::string message = FileOutcomes::messageOf(std::current_exception());
    for (std::size_t i : ok) batch.errors[i] = message;
    batch.entries.clear();
    batch.entryIndex.clear();
  }
}

void PhotoPipeline::store(Batch& batch) {
  if (batch.entries.empty()) return;
  try {
    parts_.library.saveFrames(batch.entries);
    parts_.refusals.countWritten();
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    if (const auto why = WriteRefusals::ofError(error, parts_.library.location())) {
      // A library that refuses writes would refuse each photo alone as well: none is the
      // photo's fault, so each stays as it was.
      std::vector<std::int64_t> ids;
      for (std::size_t k = 0; k < batch.entries.size(); ++k) {
        ids.push_back(batch.entries[k].file.id);
        batch.stale[batch.entryIndex[k]] = true;
      }
      parts_.refusals.holdBack(ids, *why);
      batch.entries.clear();
      return;
    }
    storeOneByOne(batch, error);
  }
}

void PhotoPipeline::storeOneByOne(Batch& batch, const std::exception_ptr& batchError) {
  // One file removed by a scan in the meantime fails the whole batch: store the others one
  // by one, so that only a file that fails on its own is marked.
  std::vector<Library::FrameBatchEntry> saved;
  for (std::size_t k = 0; k < batch.entries.size(); ++k) {
    std::exception_ptr error = batchError;
    if (batch.entries.size() > 1) {
      try {
        parts_.library.saveFrames({batch.entries[k]});
        parts_.refusals.countWritten();
        saved.push_back(std::move(batch.entries[k]));
        continue;
      } catch (...) {
        error = std::current_exception();
      }
    }
    const std::size_t slot = batch.entryIndex[k];
    if (const auto why = WriteRefusals::ofError(error, parts_.library.location())) {
      parts_.refusals.holdBack({batch.entries[k].file.id}, *why);
      batch.stale[slot] = true;
    } else if (parts_.outcomes.stillListed(batch.entries[k].file)) {
      batch.errors[slot] = FileOutcomes::messageOf(error);
    } else {
      batch.stale[slot] = true;
    }
  }
  batch.entries = std::move(saved);
}

void PhotoPipeline::settle(Batch& batch, Clock::time_point started) {
  const std::size_t n = batch.jobs.size();
  int marked = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!batch.errors[i]) continue;
    if (parts_.outcomes.fail(batch.jobs[i].file, batch.jobs[i].path, *batch.errors[i])) {
      ++marked;
    } else {
      batch.errors[i].reset();
    }
  }
  if (marked > 0) {
    parts_.progress.failed(marked);
    parts_.progress.report(false);
  }
  if (!batch.entries.empty() && parts_.onFileIndexed) {
    if (auto file = parts_.library.file(batch.entries.back().file.id)) parts_.onFileIndexed(*file);
  }

  // The batch's time is shared out by size, as if its photos had been done one by one.
  const Clock::time_point now = Clock::now();
  const Clock::duration elapsed = now - started;
  std::int64_t batchBytes = 0;
  for (const Job& job : batch.jobs) batchBytes += job.file.size;
  for (std::size_t j = 0; j < n; ++j) {
    const MediaFile& file = batch.jobs[j].file;
    // Still to do: not finished, its bytes still left.
    if (parts_.refusals.isHeldBack(file.id)) continue;
    const double fraction = batchBytes < 1
                                ? 1.0 / static_cast<double>(n)
                                : static_cast<double>(file.size) / static_cast<double>(batchBytes);
    const auto share = std::chrono::duration_cast<Clock::duration>(elapsed * fraction);
    parts_.progress.finish(file, now - share, 1, !batch.errors[j].has_value() && !batch.stale[j]);
  }
}

}  // namespace quillmere
