// SPDX-License-Identifier: GPL-3.0-or-later
// The rules by which folders join the library, shared by every front end: a folder is known
// by its standard path (standardPath); adding a folder that is already in the list, or lies inside
// a folder in the list, changes nothing; adding a parent of folders in the list replaces them, so
// that no file is ever stored under two roots. Also finds the stored file at a path.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/Records.h"
#include "platform/MountTable.h"

namespace quillmere {

class Library;

class FolderRules {
 public:
  // What the platform knows of the drive a folder lives on.
  using Volume = MountTable::Volume;

  enum class Outcome { added, alreadyIncluded, failed };
  // Why an add failed; the front ends word it with the path.
  enum class Problem {
    none,
    notFound,
    notAFolder,
    notWritten,  // the library refused it: detail is its error
  };

  struct AddResult {
    Outcome outcome = Outcome::failed;
    std::optional<Root> root;    // the new root when added
    std::vector<Root> replaced;  // folders inside the new one, removed from the library
    Problem problem = Problem::none;
    std::string path;    // the folder, in standardPath form, when failed
    std::string detail;  // the library's error for notWritten
    bool operator==(const AddResult&) const = default;
  };

  // What adding `path` to a library holding `roots` would do, without doing it.
  struct Plan {
    std::string path;  // in standardPath form
    bool alreadyIncluded = false;
    std::vector<Root> nested;  // in list order
    bool operator==(const Plan&) const = default;
  };

  FolderRules() = delete;

  // Whether `path` is `folder` or lies inside it; "Photos 2" is not inside "Photos".
  static bool contains(const std::string& folder, const std::string& path);
  static Plan plan(const std::vector<Root>& roots, const std::filesystem::path& path);

  // Adds a directory that exists: stores its root, then removes the folders nested in it
  // (their files are indexed again under the new root by the caller's next scan).
  static AddResult add(Library& library, const std::filesystem::path& path, const Volume& volume);
  // The same, storing what the mount table knows of the folder's drive, so that the folder is
  // read later only on that drive.
  static AddResult add(Library& library, const std::filesystem::path& path,
                       const MountTable& drives);
  // The same for a folder whose drive nothing is known of.
  static AddResult add(Library& library, const std::filesystem::path& path);

  // Where the folder can be read now: the place the mount table finds it at (a folder that
  // names a drive only on that drive), when a directory stands there; nothing when it is
  // unreachable. Never just a directory at the stored path: that may be an empty mount point
  // or another drive, and scanning it would remove every file of the folder.
  static std::optional<std::string> reachablePath(const Root& root, const MountTable& drives);

  // A folder stored without its drive (older versions knew none for a tmpfs, a ZFS dataset or a
  // virtual machine's shared folder) takes on the mount that shows it now, once that mount shows
  // one of its stored files: from then on the mount's going leaves it offline. The root as it
  // is then (unchanged when it knows its drive, nothing proves the mount is its own, or the
  // library can't be written).
  static Root rememberDrive(Library& library, const Root& root, const MountTable& drives);

  // The file stored at `path` (as the user names it), through the root that contains it.
  static std::optional<MediaFile> storedFile(const Library& library,
                                             const std::filesystem::path& path);
};

}  // namespace quillmere
