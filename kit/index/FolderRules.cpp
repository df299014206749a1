// SPDX-License-Identifier: GPL-3.0-or-later
// The rules by which folders join the library, where they can be read, and stored files by path.
#include "index/FolderRules.h"

#include <system_error>

#include "core/StandardPath.h"
#include "index/Library.h"
#include "platform/DriveBoundary.h"

namespace quillmere {
namespace {

std::string withSlash(const std::string& folder) {
  return !folder.empty() && folder.back() == '/' ? folder : folder + "/";
}

}  // namespace

bool FolderRules::contains(const std::string& folder, const std::string& path) {
  return path == folder || path.starts_with(withSlash(folder));
}

FolderRules::Plan FolderRules::plan(const std::vector<Root>& roots,
                                    const std::filesystem::path& path) {
  Plan plan;
  plan.path = standardPath(path);
  // A drive mounted inside a folder is not part of it (the scan does not cross into it): it
  // is a folder of its own, neither included in the one around it nor replaced by it.
  for (const auto& root : roots) {
    if (contains(root.path, plan.path) && !DriveBoundary::crosses(root.path, plan.path)) {
      plan.alreadyIncluded = true;
      plan.nested.clear();
      return plan;
    }
    if (contains(plan.path, root.path) && !DriveBoundary::crosses(plan.path, root.path)) {
      plan.nested.push_back(root);
    }
  }
  return plan;
}

FolderRules::AddResult FolderRules::add(Library& library, const std::filesystem::path& path,
                                        const Volume& volume) {
  AddResult result;
  const auto plan = FolderRules::plan(library.roots(), path);
  // Before the disk is asked: a listed folder stays included while its drive is away.
  if (plan.alreadyIncluded) {
    result.outcome = Outcome::alreadyIncluded;
    return result;
  }
  std::error_code error;
  const auto status = std::filesystem::status(plan.path, error);
  if (!std::filesystem::exists(status)) {
    result.problem = Problem::notFound;
    result.path = plan.path;
    return result;
  }
  if (!std::filesystem::is_directory(status)) {
    result.problem = Problem::notAFolder;
    result.path = plan.path;
    return result;
  }
  try {
    result.root = library.addRoot(plan.path, volume.bookmark, volume.uuid,
                                  volume.external ? volume.name : std::nullopt, volume.external);
  } catch (const std::exception& failure) {
    result.problem = Problem::notWritten;
    result.path = plan.path;
    result.detail = failure.what();
    return result;
  }
  for (const auto& nested : plan.nested) {
    try {
      library.removeRoot(nested.id);
      result.replaced.push_back(nested);
    } catch (const std::exception&) {
      // Left in the list: its files are still indexed under it, and the next add of the
      // parent replaces it again.
    }
  }
  result.outcome = Outcome::added;
  return result;
}

FolderRules::AddResult FolderRules::add(Library& library, const std::filesystem::path& path,
                                        const MountTable& drives) {
  return add(library, path, drives.describe(standardPath(path)));
}

FolderRules::AddResult FolderRules::add(Library& library, const std::filesystem::path& path) {
  return add(library, path, Volume{});
}

std::optional<std::string> FolderRules::reachablePath(const Root& root, const MountTable& drives) {
  auto place = drives.locate(root);
  std::error_code error;
  if (!place || !std::filesystem::is_directory(*place, error)) return std::nullopt;
  return place;
}

Root FolderRules::rememberDrive(Library& library, const Root& root, const MountTable& drives) {
  if (root.bookmark || root.volumeUUID) return root;
  const auto volume = drives.describe(root.path);
  if (!volume.bookmark) return root;
  const auto files = library.files(root.id);
  std::error_code error;
  // The bare mount point of a drive that is gone shows none of them.
  if (files.empty() ||
      !std::filesystem::exists(std::filesystem::path(root.path) / files.front().relPath, error)) {
    return root;
  }
  Root known = root;
  known.bookmark = volume.bookmark;
  if (volume.external) known.volumeName = volume.name;
  try {
    library.updateRoot(known);
  } catch (const std::exception&) {
    return root;  // tried again at the next look
  }
  return known;
}

std::optional<MediaFile> FolderRules::storedFile(const Library& library,
                                                 const std::filesystem::path& path) {
  const auto wanted = standardPath(path);
  for (const auto& root : library.roots()) {
    const auto folder = standardPath(root.path);
    if (wanted == folder || !contains(folder, wanted)) continue;
    const auto relative = wanted.substr(withSlash(folder).size());
    for (const auto& file : library.files(root.id)) {
      if (file.relPath == relative) return file;
    }
  }
  return std::nullopt;
}

}  // namespace quillmere
