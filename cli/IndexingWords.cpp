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

}  // namespace quillmere::IndexingWords
