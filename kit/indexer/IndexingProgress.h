// SPDX-License-Identifier: GPL-3.0-or-later
// What the indexer reports: its phase and counts, and why a run left work undone, as codes
// with their data. The front ends word them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "index/SQLite.h"
#include "scan/FrameSampler.h"

namespace quillmere::indexing {

enum class PauseReason { user, lowPower, hot };

// What the indexer is doing; reason is present exactly for paused.
struct Phase {
  enum class Kind { paused, idle, scanning, indexing };
  Kind kind = Kind::idle;
  std::optional<PauseReason> reason;

  static Phase paused(PauseReason why) { return {Kind::paused, why}; }
  static Phase idle() { return {Kind::idle, std::nullopt}; }
  static Phase scanning() { return {Kind::scanning, std::nullopt}; }
  static Phase indexing() { return {Kind::indexing, std::nullopt}; }
  bool isPaused() const { return kind == Kind::paused; }
  bool operator==(const Phase&) const = default;
};

// Why the library refused a write: its storage, with the folder holding the library file,
// or another failure with its own text.
struct Refusal {
  using Cause = SQLite::Failure::Cause;
  Cause cause = Cause::other;
  std::string folder;
  std::string detail;  // the failure's text, for other
  bool operator==(const Refusal&) const = default;
};

// A run ended by refused writes, with the files left waiting.
struct Problem {
  Refusal refusal;
  int waiting = 0;
  bool operator==(const Problem&) const = default;
};

// Files indexed before a stage was on, given its rows at the end of a run: the stage's name
// and how many of those files it has done.
struct Filling {
  std::string stage;
  int done = 0;
  int total = 0;
  bool operator==(const Filling&) const = default;
};

struct Progress {
  Phase phase;
  std::int64_t doneBytes = 0;   // bytes of the files finished in this run
  std::int64_t totalBytes = 0;  // bytes of all files of this run
  int doneFiles = 0;            // indexed, failed or passed over as vanished
  int totalFiles = 0;
  std::optional<double> secondsLeft;
  std::optional<std::string> current;  // the file (or last of the photo batch) in work
  double framesPerSecond = 0;          // smoothed embedded frames per second
  int failed = 0;                      // files that failed in this run
  std::int64_t unsupportedVideos = 0;  // over all folders, set when a run ends
  // Folders and files the last scans could not read, whose stored files are kept as they
  // were (full paths, in order; set when a run ends).
  std::vector<std::string> unreadable;
  // Why the last run left work undone, when the library refused its writes; cleared by a
  // new run.
  std::optional<Problem> problem;
  // While older files gain a stage's rows; cleared when that is done.
  std::optional<Filling> filling;
  bool operator==(const Progress&) const = default;
};

struct Policy {
  FrameSampler::VideoPlan plan;
  bool operator==(const Policy&) const = default;
};

}  // namespace quillmere::indexing
