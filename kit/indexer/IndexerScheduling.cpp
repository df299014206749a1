// SPDX-License-Identifier: GPL-3.0-or-later
// The indexer's manners: the user's pause, the pauses a run waits through, and a run's end.
#include <set>
#include <vector>

#include "indexer/IndexerImpl.h"
#include "model/Embedder.h"

namespace quillmere {

void Indexer::Impl::pause() {
  gate_.pause();
  progress_.pausedByUser();
  progress_.report(false);
}

void Indexer::Impl::resume() {
  gate_.resume();
  progress_.resumed();
  progress_.report(false);
  run(std::vector<std::int64_t>{});
}

void Indexer::Impl::waitWhilePaused(std::stop_token stop) {
  if (stop.stop_requested()) return;
  std::optional<PauseReason> reason = gate_.reason();
  if (!reason) return;
  for (;;) {
    progress_.paused(*reason);
    progress_.report(false);
    releaseImages();
    gate_.sleep(stop, pausePoll);
    reason = gate_.reason();
    if (stop.stop_requested() || !reason) {
      progress_.indexing();
      progress_.report(false);
      return;
    }
  }
}

void Indexer::Impl::closeRun() {
  releaseImages();
  std::set<std::int64_t> kept;  // folders still in the library
  try {
    for (const Root& root : library_.roots()) kept.insert(root.id);
  } catch (const std::exception&) {
    kept.clear();  // nothing is known: nothing said about unreadable folders
  }
  progress_.closeRun(kept, refusals_.last());
}

}  // namespace quillmere
