// SPDX-License-Identifier: GPL-3.0-or-later
// The way of one video into the library: its frames sampled and stored Indexer::videoChunk at
// a time as they are kept, so that memory does not grow with its length, the last chunk
// marking it indexed. A run picks up after the chunks an interrupted one stored; a cancelled
// run keeps the chunks it stored and leaves the video pending.
#pragma once

#include <filesystem>
#include <optional>
#include <stop_token>
#include <vector>

#include "core/Records.h"
#include "index/Library.h"
#include "indexer/PipelineParts.h"
#include "platform/SystemConditions.h"
#include "scan/FrameSampler.h"

namespace quillmere {

class VideoPipeline {
 public:
  VideoPipeline(PipelineParts parts, const SystemConditions& conditions,
                FrameSampler::VideoPlan plan);

  // Indexes the video, or marks it failed, and books it; nothing when cancelled meanwhile.
  void index(const MediaFile& file, const std::filesystem::path& filePath, std::stop_token stop);

 private:
  // The kept frames not yet stored.
  struct Run {
    const MediaFile& file;
    std::vector<FrameSampler::Frame> chunk;
    bool restart = true;  // the next write drops the frames the library holds for the file
    int stored = 0;       // frames stored by this run
    std::optional<CaptureTime> taken;  // stored with the last chunk
  };

  // Returns the frames it stored; nothing when the run was cancelled meanwhile. Throws what
  // sampling, the stages or storing throw.
  std::optional<int> embed(const MediaFile& file, const std::filesystem::path& filePath,
                           std::stop_token stop);
  // Where an interrupted run left the video: after its last stored frame, decoded again for
  // the scene comparison. Nothing (start over) when no frame is stored, the file on disk is
  // no longer the one listed, or that frame cannot be decoded.
  std::optional<FrameSampler::Resume> resumePoint(const MediaFile& file,
                                                  const std::filesystem::path& filePath);
  // Runs the stages over the chunk and stores it; with info, as the video's last.
  void storeChunk(Run& run, const std::optional<FrameSampler::VideoInfo>& info);
  // Runs the stages over the frames and appends their records and rows to the entry.
  void embedChunk(std::vector<FrameSampler::Frame>& frames, Library::FrameBatchEntry& entry,
                  const MediaFile& file);

  PipelineParts parts_;
  const SystemConditions& conditions_;
  const FrameSampler::VideoPlan plan_;
};

}  // namespace quillmere
