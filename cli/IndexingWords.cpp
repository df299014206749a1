// SPDX-License-Identifier: GPL-3.0-or-later
#include "IndexingWords.h"

namespace quillmere::IndexingWords {

std::string pause(Indexer::PauseReason reason) {
  switch (reason) {
    case Indexer::PauseReason::user:
      return "Paused";
    case Indexer::PauseReason::lowPower:
      return "Paused while Power Saver is on";
    case Indexer::PauseReason::hot:
      return "Paused while the computer cools down";
  }
  return "Paused";
}

std::string refusal(const Indexer::Refusal& refusal) {
  using Cause = Indexer::Refusal::Cause;
  const std::string& folder = refusal.folder;
  switch (refusal.cause) {
    case Cause::diskFull:
      return "the disk holding " + folder + " is full";
    case Cause::overQuota:
      return "your disk quota for " + folder + " is used up";
    case Cause::diskReadOnly:
      return "the disk holding " + folder + " is read-only";
    case Cause::diskFailing:
      return "the disk holding " + folder + " reports an input/output error";
    case Cause::fileReadOnly:
      return "the library file in " + folder + " is read-only";
    case Cause::other:
      break;
  }
  return refusal.detail;
}

std::string problem(const Indexer::Problem& problem) {
  std::string text = "The library can't be written: " + refusal(problem.refusal) + ".";
  if (problem.waiting == 1) text += " 1 file waits to be indexed.";
  if (problem.waiting > 1) {
    text += " " + std::to_string(problem.waiting) + " files wait to be indexed.";
  }
  return text;
}

namespace {

// 5000 as "5,000"; counts are never negative.
std::string grouped(int count) {
  const std::string digits = std::to_string(count);
  std::string text;
  for (std::size_t k = 0; k < digits.size(); ++k) {
    if (k > 0 && (digits.size() - k) % 3 == 0) text += ',';
    text += digits[k];
  }
  return text;
}

}  // namespace

std::string filling(const Indexer::Filling& filling) {
  const std::string what = filling.stage == Library::textStage
                               ? std::string("Reading text")
                               : "Adding the stage " + filling.stage + " to older files";
  return what + ": " + grouped(filling.done) + " of " + grouped(filling.total);
}

}  // namespace quillmere::IndexingWords
