// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the indexer's progress: one redrawn line with a bar on a terminal, plain lines (at
// most one a second, and at every change of phase) otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "indexer/Indexer.h"

namespace quillmere {

class ProgressBar {
 public:
  // Draws on out; a terminal when isTerminal.
  ProgressBar(std::FILE* out, bool isTerminal);

  void show(const Indexer::Progress& progress);
  // A download: bytes done of total, the rate since it started, and the time left.
  void showTransfer(std::uint64_t done, std::uint64_t total, double bytesPerSecond);
  static std::string describeTransfer(std::uint64_t done, std::uint64_t total,
                                      double bytesPerSecond);
  // Ends a redrawn line so that what follows starts on its own.
  void finish();

  // The text of one report, without the bar: files and bytes done, phase, time left. A run
  // that ended with files of its own left undone reads "Stopped", with what is pending.
  static std::string describe(const Indexer::Progress& progress);
  static std::string phaseText(const Indexer::Phase& phase);
  // "512 B", "3.4 KB", "12.0 MB", "1.2 GB" (decimal units).
  static std::string bytes(std::int64_t count);
  // "about 5 s", "about 3 min", "about 2 h 10 min".
  static std::string timeLeft(double seconds);
  // A bar of width cells for done out of total.
  static std::string bar(std::int64_t done, std::int64_t total, int width);

 private:
  // Idle, yet not every file the run counted was done: cancelled, or a folder went away.
  static bool stoppedShort(const Indexer::Progress& progress);
  // Writes one report: redrawn on a terminal, else a line at most every `every`.
  void draw(const std::string& text, bool force, std::chrono::seconds every);

  std::FILE* out_;
  bool isTerminal_;
  bool lineOpen_ = false;
  std::optional<Indexer::Phase> lastPhase_;
  std::optional<std::chrono::steady_clock::time_point> lastLine_;
  std::uint64_t transferShown_ = 0;
};

}  // namespace quillmere
