// SPDX-License-Identifier: GPL-3.0-or-later
// One step of the work done on each decoded picture of a file (a photo, or a video frame):
// the embedder is the first; others add rows of their own, stored with the file's frames.
// The indexer decodes each picture once and hands every stage that is on a copy no larger
// than it asks for; a library indexed before a stage existed gains its rows at the next run.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/Picture.h"
#include "core/Records.h"
#include "index/Library.h"

namespace quillmere {

// One picture as a stage sees it: the file it is from and its time (0 for a photo).
struct StagePicture {
  const MediaFile& file;
  double time = 0;
  const Picture& image;
};

class Stage {
 public:
  virtual ~Stage() = default;

  // Names the stage's rows in the library: never changes once rows are stored under it.
  virtual std::string name() const = 0;
  // The longest side it wants a picture at.
  virtual std::int64_t pixels() const = 0;
  // Its part of the work on one picture, for the progress; the parts are weighed together.
  virtual double share() const { return 1; }
  // The rows of each picture, in order: one list per picture. A throw fails the pictures'
  // files. Called on the indexer's threads, one call at a time.
  virtual std::vector<std::vector<Library::StageRow>> process(
      std::span<const StagePicture> pictures) = 0;
};

}  // namespace quillmere
