// SPDX-License-Identifier: GPL-3.0-or-later
// The indexer's pass over files whose capture time the library lacks: a header read each,
// stored in batches, nothing decoded or embedded.
#include <set>
#include <vector>

#include "indexer/IndexerImpl.h"
#include "scan/CaptureTimeReader.h"

namespace quillmere {
namespace {

// Files read between two writes: an interrupted pass keeps what it stored.
constexpr std::size_t takenBatch = 256;

// A library that refuses the write leaves the times to a later run.
bool store(Library& library, std::vector<Library::TakenEntry>& batch) {
  try {
    library.setTaken(batch);
  } catch (const std::exception&) {
    return false;
  }
  batch.clear();
  return true;
}

}  // namespace

void Indexer::Impl::fillCaptureTimes(std::stop_token stop) {
  if (refused()) return;
  const Locations roots = reachableRoots();
  std::set<std::int64_t> ids;
  for (const auto& [id, filePath] : roots) ids.insert(id);
  std::vector<Library::TakenEntry> batch;
  for (const MediaFile& file : library_.untimed(ids)) {
    if (stop.stop_requested()) return;
    const std::filesystem::path filePath = roots.at(file.rootID) / file.relPath;
    batch.push_back({.file = file, .taken = CaptureTimeReader::read(filePath, file)});
    if (batch.size() == takenBatch && !store(library_, batch)) return;
  }
  store(library_, batch);
}

}  // namespace quillmere
