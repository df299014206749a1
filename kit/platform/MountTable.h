// SPDX-License-Identifier: GPL-3.0-or-later
// The drives mounted now, from the kernel's mount table (/proc/self/mountinfo) with their
// identities (a UUID from /dev/disk/by-uuid, else what the table tells of the mount) and
// whether they are external (removable, on USB, not on the boot disk, or a share); and the one
// rule by which a stored folder is found on its drive again, shared by every front end and the
// indexer. Every path is read below a system root ("/" on a real machine), so that a made-up
// tree can stand in for a machine with other drives.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Records.h"
#include "platform/FolderBookmark.h"

namespace quillmere {

class MountTable {
 public:
  struct Mount {
    std::string mountPoint;
    std::string root = "/";  // the drive's directory shown there (a subvolume, a bind)
    std::string source;      // the mounted device ("/dev/sdb1") or file system name
    // A network, FUSE or virtual machine's shared file system's identity: its type and source
    // ("nfs4 nas:/photos"), which names it wherever it is mounted; absent for other mounts.
    std::optional<std::string> share;
    // The identity of the drive: the UUID /dev/disk/by-uuid gives the device, the share's, or
    // else the mount's own, which holds its mount point ("tmpfs tmpfs on /mnt/scratch"). Absent
    // only when a field has a line break, which a bookmark cannot hold.
    std::optional<std::string> uuid;
    bool external = false;
    bool operator==(const Mount&) const = default;
  };

  // What adding a folder stores about its drive.
  struct Volume {
    std::optional<Bytes> bookmark;
    std::optional<std::string> uuid;
    std::optional<std::string> name;  // kept only for an external drive
    bool external = false;
  };

  // Reads the table below systemRoot.
  explicit MountTable(std::filesystem::path systemRoot = "/");

  // The mounts of a mountinfo text, in its order, without identities; escaped characters
  // ("\040" for a space) decoded. A share is known by its type and source alone.
  static std::vector<Mount> parse(std::string_view text);

  // The table file, for a watcher that keeps it open.
  std::filesystem::path tablePath() const { return systemRoot_ / "proc/self/mountinfo"; }
  // Reads the table file again.
  void reload();
  // Takes the table from a text of it read elsewhere.
  void load(std::string_view text);

  const std::vector<Mount>& mounts() const { return mounts_; }
  // The mount that shows path (the deepest mount point; the later of two at one place).
  std::optional<Mount> mountOf(const std::string& path) const;
  std::optional<std::string> bootVolumeUUID() const;

  // What adding the folder at path stores about its drive: a bookmark (the folder's path
  // inside the drive, on any mount that has an identity), and its name (the mount point's last
  // component) for an external drive. Once a mount is gone, its bare mount point (or another
  // file system there) is not the folder. A share is external.
  Volume describe(const std::string& path) const;
  // Where a stored folder can be read now: through its bookmark wherever its drive shows it
  // (at its stored path when the drive shows it there too); a folder that names a drive only
  // when that drive is the one at its path; else its path. Nothing when its drive is not
  // connected.
  std::optional<std::string> locate(const Root& root) const;

 private:
  std::optional<std::size_t> mountIndexOf(const std::string& path) const;
  std::optional<std::string> onDrive(const FolderBookmark& bookmark,
                                     const std::string& stored) const;
  std::optional<std::string> placeOn(const Mount& mount, const FolderBookmark& bookmark) const;
  void fillDrives();
  bool isExternal(const std::string& device, const std::string& bootDisk) const;
  std::string deviceName(const std::string& source) const;

  std::filesystem::path systemRoot_;
  std::vector<Mount> mounts_;
};

}  // namespace quillmere
