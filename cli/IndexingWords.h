// SPDX-License-Identifier: GPL-3.0-or-later
// The indexer's reports in the command line's English.
#pragma once

#include <string>

#include "indexer/Indexer.h"

namespace quillmere::IndexingWords {

// "Paused", "Paused while Power Saver is on", "Paused while the computer cools down".
std::string pause(Indexer::PauseReason reason);
// "the disk holding /home/ann/.local/share/Quillmere is full"
std::string refusal(const Indexer::Refusal& refusal);
// "The library can't be written: the disk holding … is full. 28 files wait to be indexed."
std::string problem(const Indexer::Problem& problem);
// "Reading text: 1,204 of 5,000"
std::string filling(const Indexer::Filling& filling);

}  // namespace quillmere::IndexingWords
