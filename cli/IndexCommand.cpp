// SPDX-License-Identifier: GPL-3.0-or-later
// index: bring the library up to date, and keep watching with --watch.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "Commands.h"
#include "IndexingWords.h"
#include "Interrupts.h"
#include "Output.h"
#include "ProgressBar.h"
#include "engine/FaceFinding.h"
#include "engine/TextReading.h"
#include "index/FolderRules.h"
#include "index/Library.h"
#include "indexer/Indexer.h"
#include "platform/MountTable.h"
#include "scan/FolderWatcher.h"

namespace quillmere {
namespace {

using Output::printable;

// Said once, before indexing: indexing goes on without text.
void sayWhyNoText(const TextReading& reading) {
  switch (reading.state()) {
    case TextReading::State::noModel:
      std::printf(
          "Text in pictures is not read: no text model is installed. Reinstall "
          "Quillmere, or set QUILLMERE_TEXT_MODEL_DIR to a text model directory.\n");
      break;
    case TextReading::State::modelDamaged:
      std::printf("Text in pictures is not read: the text model is damaged (%s).\n",
                  printable(reading.detail()).c_str());
      break;
    case TextReading::State::on:
    case TextReading::State::off:
      break;
  }
}

// Said once, before indexing: indexing goes on without faces.
void sayWhyNoFaces(const FaceFinding& finding) {
  switch (finding.state()) {
    case FaceFinding::State::noModel:
      std::printf(
          "Faces are not found: no face model is installed. Reinstall Quillmere, or set "
          "QUILLMERE_FACE_MODEL_DIR to a face model directory.\n");
      break;
    case FaceFinding::State::modelDamaged:
      std::printf("Faces are not found: the face model is damaged (%s).\n",
                  printable(finding.detail()).c_str());
      break;
    case FaceFinding::State::on:
    case FaceFinding::State::off:
      break;
  }
}

}  // namespace

int Commands::index(const IndexOptions& options) {
  const auto roots = library_->roots();
  if (roots.empty()) throw Error("No folders to index. Add one with 'quillmere-cli add FOLDER'.");
  const auto& stored = library_->storedModelSignature();
  if (stored && *stored != library_->modelSignature()) {
    std::printf(
        "The library was indexed with the model %s; the model set is %s. Every file will be "
        "indexed again.\n",
        printable(*stored).c_str(), printable(library_->modelSignature()).c_str());
  }
  const MountTable drives;
  for (const auto& root : roots) {
    if (!isOnline(root, drives)) {
      std::printf("Offline, skipped: %s\n", printable(root.path).c_str());
    }
  }
  std::mutex drawLock;  // guards bar and problem, which the indexer's thread sets
  ProgressBar bar(stdout, ::isatty(STDOUT_FILENO) == 1);
  Indexer indexer(*library_, *embedder_);
  const auto reading = TextReading::open(options.readText);
  sayWhyNoText(reading);
  reading.addTo(indexer);
  const auto finding = FaceFinding::open(options.findFaces);
  sayWhyNoFaces(finding);
  finding.addTo(indexer);
  std::optional<std::string> problem;
  std::vector<std::string> unreadable;
  indexer.onProgress = [&](const Indexer::Progress& progress) {
    std::lock_guard hold(drawLock);
    bar.show(progress);
    problem.reset();
    if (progress.problem) problem = IndexingWords::problem(*progress.problem);
    unreadable = progress.unreadable;
  };
  std::unique_ptr<FolderWatcher> watcher;
  if (options.watch) {
    watcher = std::make_unique<FolderWatcher>([&](const std::set<std::int64_t>& changed) {
      indexer.run(std::vector<std::int64_t>(changed.begin(), changed.end()));
    });
    std::map<std::int64_t, std::string> paths;
    for (const auto& root : roots) {
      if (const auto place = FolderRules::reachablePath(root, drives)) paths[root.id] = *place;
    }
    watcher->watch(paths);
  }
  indexer.run();
  std::atomic<bool> idle{false};
  std::thread waiter;
  if (!options.watch) {
    waiter = std::thread([&] {
      indexer.waitUntilIdle();
      idle = true;
    });
  }
  while (!interrupted && !idle) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  watcher.reset();  // no new runs from here on
  if (interrupted) indexer.stop();
  if (waiter.joinable()) waiter.join();
  indexer.waitUntilIdle();
  indexer.onProgress = nullptr;
  {
    std::lock_guard hold(drawLock);
    bar.finish();
  }
  for (const std::string& path : unreadable) {
    std::printf("Can't read %s: what was stored from it is kept.\n", printable(path).c_str());
  }
  const auto totals = library_->totals();
  if (interrupted) {
    std::printf(
        "Stopped: %lld indexed, %lld pending, %lld failed. Run 'quillmere-cli index' "
        "to go on.\n",
        static_cast<long long>(totals.indexed), static_cast<long long>(totals.pending),
        static_cast<long long>(totals.failed));
    return 130;
  }
  if (problem) {
    std::printf("Stopped: %lld indexed, %lld pending, %lld failed.\n",
                static_cast<long long>(totals.indexed), static_cast<long long>(totals.pending),
                static_cast<long long>(totals.failed));
    throw Error(*problem);
  }
  std::printf("Indexed %lld of %lld files (%lld frames), %lld pending, %lld failed.\n",
              static_cast<long long>(totals.indexed), static_cast<long long>(totals.files),
              static_cast<long long>(totals.frames), static_cast<long long>(totals.pending),
              static_cast<long long>(totals.failed));
  if (totals.failed > 0) std::printf("See 'quillmere-cli failed' for the reasons.\n");
  groupFaces();
  return 0;
}

}  // namespace quillmere
