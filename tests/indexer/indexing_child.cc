// SPDX-License-Identifier: GPL-3.0-or-later
// Indexes one folder into one library and exits: the process the crash-safety test kills.
// Usage: quillmere_indexing_child LIBRARY FOLDER MODEL_DIRECTORY
#include <cstdio>
#include <exception>
#include <memory>

#include "index/Library.h"
#include "indexer/Indexer.h"
#include "model/Embedder.h"
#include "platform/PowerMonitor.h"

int main(int argc, char** argv) {
  using namespace quillmere;
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s LIBRARY FOLDER MODEL_DIRECTORY\n", argv[0]);
    return 2;
  }
  try {
    Embedder embedder(argv[3]);
    Library library(argv[1], static_cast<std::size_t>(embedder.info().dim),
                    embedder.info().signature());
    library.addRoot(argv[2], std::nullopt, std::nullopt, std::nullopt, false);
    // No readings: the machine's own power profile or heat must not hold the run.
    Indexer indexer(library, embedder, Indexer::Policy{},
                    std::make_shared<PowerMonitor>("/nonexistent"));
    indexer.run();
    indexer.waitUntilIdle();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return 0;
}
