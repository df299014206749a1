// SPDX-License-Identifier: GPL-3.0-or-later
#include "indexer/VideoPipeline.h"

#include <sys/stat.h>

#include <cmath>
#include <exception>
#include <iterator>
#include <thread>
#include <utility>

#include "indexer/FileOutcomes.h"
#include "indexer/Indexer.h"
#include "indexer/ProgressMeter.h"
#include "indexer/StageSet.h"
#include "indexer/WriteRefusals.h"
#include "scan/CaptureTimeReader.h"

namespace quillmere {
namespace {

// The file at path still has the size and modification time it was listed with (within the
// half second a scan allows).
bool unchangedOnDisk(const MediaFile& file, const std::filesystem::path& filePath) {
  struct stat info {};
  if (::stat(filePath.c_str(), &info) != 0) return false;
  const double mtime = static_cast<double>(info.st_mtim.tv_sec) + info.st_mtim.tv_nsec / 1e9;
  return info.st_size == file.size && std::abs(mtime - file.mtime) <= 0.5;
}

}  // namespace

VideoPipeline::VideoPipeline(PipelineParts parts, const SystemConditions& conditions,
                             FrameSampler::VideoPlan plan)
    : parts_(parts), conditions_(conditions), plan_(std::move(plan)) {}

void VideoPipeline::index(const MediaFile& file, const std::filesystem::path& filePath,
                          std::stop_token stop) {
  parts_.progress.working(file.name());
  parts_.progress.report(false);
  const ProgressMeter::Clock::time_point started = ProgressMeter::Clock::now();
  std::optional<int> stored;
  try {
    stored = embed(file, filePath, stop);
    if (!stored) return;  // cancelled: it stays pending, its stored chunks kept
  } catch (...) {
    // A sampler cut short before it kept a frame reports the file unreadable: a cancelled
    // video is never marked, it stays pending.
    if (stop.stop_requested()) return;
    const std::exception_ptr error = std::current_exception();
    if (const auto why = WriteRefusals::ofError(error, parts_.library.location())) {
      parts_.refusals.holdBack({file.id}, *why);
      return;
    }
    // A scan that found it removed or changed meanwhile made the library refuse the chunk
    // (Stale): not marked, its new content waits, pending.
    if (parts_.outcomes.fail(file, filePath, FileOutcomes::messageOf(error))) {
      parts_.progress.failed(1);
      parts_.progress.report(false);
    }
    if (!parts_.refusals.isHeldBack(file.id)) parts_.progress.finish(file, started, 0, false);
    return;
  }
  if (parts_.onFileIndexed) {
    if (auto indexed = parts_.library.file(file.id)) parts_.onFileIndexed(*indexed);
  }
  parts_.progress.finish(file, started, *stored, true);
}

std::optional<int> VideoPipeline::embed(const MediaFile& file,
                                        const std::filesystem::path& filePath,
                                        std::stop_token stop) {
  const std::optional<FrameSampler::Resume> resume = resumePoint(file, filePath);
  Run run{.file = file, .restart = !resume};
  const FrameSampler::VideoInfo info = FrameSampler::video(
      filePath, plan_, [&stop] { return stop.stop_requested(); },
      [&](FrameSampler::Frame&& frame) {
        run.chunk.push_back(std::move(frame));
        if (run.chunk.size() < Indexer::videoChunk) return;
        storeChunk(run, std::nullopt);
        if (conditions_.thermalState() == SystemConditions::ThermalState::fair) {
          std::this_thread::sleep_for(Indexer::fairRest);
        }
      },
      resume);
  // Frames kept after the last stored chunk are dropped: a resumed run samples them again.
  if (stop.stop_requested()) return std::nullopt;
  run.taken = CaptureTimeReader::read(filePath, file);  // the container's header only
  storeChunk(run, info);
  return run.stored;
}

std::optional<FrameSampler::Resume> VideoPipeline::resumePoint(
    const MediaFile& file, const std::filesystem::path& filePath) {
  const std::optional<double> last = parts_.library.lastFrameTime(file.id);
  // Edited since it was listed, and not yet scanned again: its frames show other content.
  if (!last || !unchangedOnDisk(file, filePath)) return std::nullopt;
  std::optional<FrameSampler::Signature> signature =
      FrameSampler::signatureAt(filePath, *last, plan_.maxPixels);
  if (!signature) return std::nullopt;
  return FrameSampler::Resume{.after = *last, .signature = std::move(*signature)};
}

void VideoPipeline::storeChunk(Run& run, const std::optional<FrameSampler::VideoInfo>& info) {
  Library::FrameBatchEntry entry{.file = run.file};
  if (info) {
    entry.duration = info->duration;
    entry.width = static_cast<int>(info->width);
    entry.height = static_cast<int>(info->height);
    entry.taken = run.taken;
  }
  embedChunk(run.chunk, entry, run.file);
  parts_.library.saveChunk(entry, {.restart = run.restart, .complete = info.has_value()});
  parts_.refusals.countWritten();
  run.restart = false;
  run.stored += static_cast<int>(entry.frames.size());
  run.chunk.clear();
}

void VideoPipeline::embedChunk(std::vector<FrameSampler::Frame>& frames,
                               Library::FrameBatchEntry& entry, const MediaFile& file) {
  std::vector<StagePicture> pictures;
  for (const FrameSampler::Frame& frame : frames) {
    pictures.push_back({.file = file, .time = frame.time, .image = frame.image});
  }
  StageSet::Output output = parts_.stages.run(pictures);
  // Every stage is named, so that the last chunk marks it done even with no rows.
  for (std::size_t j = entry.stages.size(); j < output.names.size(); ++j) {
    entry.stages.push_back({.stage = output.names[j]});
  }
  for (std::size_t k = 0; k < frames.size(); ++k) {
    entry.frames.push_back(
        {.time = frames[k].time,
         .vector = std::move(output.vectors[k]),
         .thumbnail = FrameSampler::thumbnailData(frames[k].image, Indexer::thumbnailPixels)});
  }
  // One list per stage for the chunk, its frames' rows in order.
  for (auto& rows : output.others) {
    for (std::size_t j = 0; j < rows.size(); ++j) {
      auto& into = entry.stages[j].rows;
      std::move(rows[j].rows.begin(), rows[j].rows.end(), std::back_inserter(into));
    }
  }
}

}  // namespace quillmere
