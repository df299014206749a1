// SPDX-License-Identifier: GPL-3.0-or-later
// The indexer's progress drawn as a redrawn bar on a terminal, or as plain lines elsewhere.
#include "ProgressBar.h"

#include <algorithm>
#include <cmath>

#include "IndexingWords.h"

namespace quillmere {

ProgressBar::ProgressBar(std::FILE* out, bool isTerminal) : out_(out), isTerminal_(isTerminal) {}

std::string ProgressBar::phaseText(const Indexer::Phase& phase) {
  switch (phase.kind) {
    case Indexer::Phase::Kind::paused:
      return IndexingWords::pause(phase.reason.value_or(Indexer::PauseReason::user));
    case Indexer::Phase::Kind::idle:
      return "Up to date";
    case Indexer::Phase::Kind::scanning:
      return "Scanning";
    case Indexer::Phase::Kind::indexing:
      return "Indexing";
  }
  return "";
}

std::string ProgressBar::bytes(std::int64_t count) {
  if (count < 1000) return std::to_string(count) + " B";
  static const char* units[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(count) / 1000.0;
  int unit = 0;
  while (value >= 999.95 && unit < 3) {
    value /= 1000.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return text;
}

std::string ProgressBar::timeLeft(double seconds) {
  const auto whole = static_cast<std::int64_t>(std::ceil(std::max(seconds, 0.0)));
  if (whole < 60) return "about " + std::to_string(std::max<std::int64_t>(whole, 1)) + " s";
  const std::int64_t minutes = (whole + 59) / 60;
  if (minutes < 60) return "about " + std::to_string(minutes) + " min";
  return "about " + std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
}

std::string ProgressBar::bar(std::int64_t done, std::int64_t total, int width) {
  const double fraction =
      total > 0 ? std::clamp(static_cast<double>(done) / static_cast<double>(total), 0.0, 1.0)
                : 0.0;
  const int filled = static_cast<int>(fraction * width);
  return "[" + std::string(filled, '#') + std::string(width - filled, '-') + "]";
}

bool ProgressBar::stoppedShort(const Indexer::Progress& progress) {
  return progress.phase == Indexer::Phase::idle() && progress.doneFiles < progress.totalFiles;
}

std::string ProgressBar::describe(const Indexer::Progress& progress) {
  const bool stopped = stoppedShort(progress);
  if (progress.filling && !stopped && !progress.phase.isPaused()) {
    return IndexingWords::filling(*progress.filling);
  }
  std::string text = stopped ? "Stopped" : phaseText(progress.phase);
  if (progress.totalFiles > 0) {
    text += ": " + std::to_string(progress.doneFiles) + "/" + std::to_string(progress.totalFiles) +
            " files, " + bytes(progress.doneBytes) + " of " + bytes(progress.totalBytes);
    if (stopped) {
      text += ", " + std::to_string(progress.totalFiles - progress.doneFiles) + " pending";
    }
    if (progress.failed > 0) text += ", " + std::to_string(progress.failed) + " failed";
    if (progress.secondsLeft && progress.phase.kind == Indexer::Phase::Kind::indexing) {
      text += ", " + timeLeft(*progress.secondsLeft) + " left";
    }
  }
  if (progress.problem) text += ". " + IndexingWords::problem(*progress.problem);
  return text;
}

void ProgressBar::show(const Indexer::Progress& progress) {
  const bool phaseChanged = !lastPhase_ || *lastPhase_ != progress.phase;
  lastPhase_ = progress.phase;
  draw(isTerminal_ ? bar(progress.doneBytes, progress.totalBytes, 24) + " " + describe(progress)
                   : describe(progress),
       phaseChanged, std::chrono::seconds(1));
}

std::string ProgressBar::describeTransfer(std::uint64_t done, std::uint64_t total,
                                          double bytesPerSecond) {
  const auto count = [](std::uint64_t value) { return bytes(static_cast<std::int64_t>(value)); };
  std::string text = count(done) + " of " + count(total);
  if (bytesPerSecond > 0) {
    text += ", " + count(static_cast<std::uint64_t>(bytesPerSecond)) + "/s, " +
            timeLeft(static_cast<double>(total - std::min(done, total)) / bytesPerSecond) + " left";
  }
  return text;
}

void ProgressBar::showTransfer(std::uint64_t done, std::uint64_t total, double bytesPerSecond) {
  const auto text = describeTransfer(done, total, bytesPerSecond);
  draw(isTerminal_
           ? bar(static_cast<std::int64_t>(done), static_cast<std::int64_t>(total), 24) + " " + text
           : text,
       done == total && transferShown_ != total, std::chrono::seconds(5));
  transferShown_ = done;
}

void ProgressBar::draw(const std::string& text, bool force, std::chrono::seconds every) {
  const auto now = std::chrono::steady_clock::now();
  if (isTerminal_) {
    std::fprintf(out_, "\r%s\033[K", text.c_str());
    lineOpen_ = true;
  } else {
    if (!force && lastLine_ && now - *lastLine_ < every) return;
    std::fprintf(out_, "%s\n", text.c_str());
    lastLine_ = now;
  }
  std::fflush(out_);
}

void ProgressBar::finish() {
  if (lineOpen_) std::fprintf(out_, "\n");
  lineOpen_ = false;
  std::fflush(out_);
}

}  // namespace quillmere
