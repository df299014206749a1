// SPDX-License-Identifier: GPL-3.0-or-later
// What the photo and video pipelines share: the library they store into, the stages they
// run, how a file that is not indexed is left, the run's refused writes, the progress, and
// whom to tell of an indexed file.
#pragma once

#include <functional>

#include "core/Records.h"

namespace quillmere {

class FileOutcomes;
class Library;
class ProgressMeter;
class StageSet;
class WriteRefusals;

struct PipelineParts {
  Library& library;
  const StageSet& stages;
  FileOutcomes& outcomes;
  WriteRefusals& refusals;
  ProgressMeter& progress;
  const std::function<void(const MediaFile&)>& onFileIndexed;  // set by the owner before a run
};

}  // namespace quillmere
