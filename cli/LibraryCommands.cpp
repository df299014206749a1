// SPDX-License-Identifier: GPL-3.0-or-later
// add, remove, folders, status, failed and retry: the library's folders and totals.
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "Commands.h"
#include "Output.h"
#include "ProgressBar.h"
#include "Words.h"
#include "core/StandardPath.h"
#include "index/FolderRules.h"
#include "index/Library.h"
#include "platform/MountTable.h"
#include "scan/Timecode.h"

namespace quillmere {
namespace {

using Output::counted;
using Output::printable;
using Output::putPath;

}  // namespace

int Commands::add(const Options& options) {
  // Check every folder before changing anything.
  for (const auto& operand : options.operands) {
    std::error_code error;
    if (!std::filesystem::is_directory(operand, error)) {
      if (std::filesystem::exists(operand, error)) {
        throw Error("Not a folder: " + operand + ". Add the folder that holds it.");
      }
      throw Error("Folder not found: " + operand);
    }
  }
  const MountTable drives;
  for (const auto& operand : options.operands) {
    const auto result = FolderRules::add(*library_, operand, drives);
    const auto path = standardPath(operand);
    switch (result.outcome) {
      case FolderRules::Outcome::failed:
        throw Error(Words::folderProblem(result));
      case FolderRules::Outcome::alreadyIncluded:
        std::printf("Already in the library: %s\n", printable(path).c_str());
        break;
      case FolderRules::Outcome::added:
        std::printf("Added %s\n", printable(path).c_str());
        for (const auto& nested : result.replaced) {
          std::printf("  in place of %s (its files are indexed again under the new folder)\n",
                      printable(nested.path).c_str());
        }
        break;
    }
  }
  std::printf("Run 'quillmere-cli index' to index the new files.\n");
  return 0;
}

int Commands::remove(const Options& options) {
  std::vector<Root> roots;
  for (const auto& operand : options.operands) {
    const auto root = findRoot(*library_, operand);
    if (!root) {
      throw Error("Folder not found in the library: " + operand + " (see 'quillmere-cli folders')");
    }
    roots.push_back(*root);
  }
  for (const auto& root : roots) {
    library_->removeRoot(root.id);
    std::printf("Removed %s\n", printable(root.path).c_str());
  }
  return 0;
}

int Commands::folders(const Options&) {
  const auto roots = library_->roots();
  if (roots.empty()) {
    std::printf("No folders. Add one with 'quillmere-cli add FOLDER'.\n");
    return 0;
  }
  const MountTable drives;
  for (const auto& root : roots) {
    const auto totals = library_->totals(std::set<std::int64_t>{root.id});
    std::printf("%s\n  %s, %s (%s, %s, %s): %lld indexed, %lld pending, %lld failed\n",
                printable(root.path).c_str(), isOnline(root, drives) ? "online" : "offline",
                counted(totals.files, "file").c_str(), counted(totals.photos, "photo").c_str(),
                counted(totals.videos, "video").c_str(), ProgressBar::bytes(totals.bytes).c_str(),
                static_cast<long long>(totals.indexed), static_cast<long long>(totals.pending),
                static_cast<long long>(totals.failed));
  }
  return 0;
}

int Commands::status(const Options& options) {
  const auto totals = library_->totals();
  const auto folders = library_->roots().size();
  if (options.json) {
    const auto& stored = library_->storedModelSignature();
    const nlohmann::json storedModel = stored ? nlohmann::json(*stored) : nlohmann::json();
    nlohmann::json document = {{"folders", folders},
                               {"files", totals.files},
                               {"photos", totals.photos},
                               {"videos", totals.videos},
                               {"indexed", totals.indexed},
                               {"pending", totals.pending},
                               {"failed", totals.failed},
                               {"bytes", totals.bytes},
                               {"indexed_bytes", totals.indexedBytes},
                               {"pending_bytes", totals.pendingBytes},
                               {"indexed_video_seconds", totals.indexedVideoSeconds},
                               {"frames", totals.frames},
                               {"model", library_->modelSignature()},
                               {"library_model", storedModel},
                               {"model_matches", library_->modelMatches()}};
    putPath(document, "library", libraryPath_.string());
    std::printf("%s\n",
                document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return 0;
  }
  std::printf("Library: %s\n", printable(libraryPath_.string()).c_str());
  std::printf("Model: %s\n", printable(library_->modelSignature()).c_str());
  if (!library_->modelMatches()) {
    std::printf("Indexed with another model: %s. 'quillmere-cli index' indexes every file again.\n",
                printable(library_->storedModelSignature().value_or("?")).c_str());
  }
  std::printf("Folders: %zu\n", folders);
  std::printf("Files: %lld (%s, %s), %s\n", static_cast<long long>(totals.files),
              counted(totals.photos, "photo").c_str(), counted(totals.videos, "video").c_str(),
              ProgressBar::bytes(totals.bytes).c_str());
  std::printf(
      "Indexed: %lld (%s), pending: %lld (%s), failed: %lld\n",
      static_cast<long long>(totals.indexed), ProgressBar::bytes(totals.indexedBytes).c_str(),
      static_cast<long long>(totals.pending), ProgressBar::bytes(totals.pendingBytes).c_str(),
      static_cast<long long>(totals.failed));
  std::printf("Frames: %lld, video indexed: %s\n", static_cast<long long>(totals.frames),
              timecode(totals.indexedVideoSeconds).c_str());
  return 0;
}

int Commands::failed(const Options&) {
  int count = 0;
  for (const auto& file : library_->allFiles()) {
    if (file.state != FileState::failed) continue;
    std::printf("%s: %s\n", printable(location(file).string()).c_str(),
                printable(file.error.value_or("failed")).c_str());
    ++count;
  }
  if (count == 0) std::printf("No failed files.\n");
  return 0;
}

int Commands::retry(const Options&) {
  const auto before = library_->totals().failed;
  library_->retryFailed();
  std::printf("%lld failed file%s pending again. Run 'quillmere-cli index' to index them.\n",
              static_cast<long long>(before), before == 1 ? " is" : "s are");
  return 0;
}

}  // namespace quillmere
