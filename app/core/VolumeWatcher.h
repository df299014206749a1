// The drives mounted now, from the kernel's mount table (/proc/self/mountinfo) with their
// UUIDs (/dev/disk/by-uuid) and whether they are external (removable, on USB, or not on the
// boot disk). Watches the table and says when it changed, on the thread that made it.
// Every path is read below a system root ("/" on a real machine), so that a made-up tree
// can stand in for a machine with other drives.
#pragma once

#include <QObject>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FolderBookmark.h"
#include "index/FolderRules.h"

class QSocketNotifier;

namespace quillmere {

class VolumeWatcher : public QObject {
  Q_OBJECT

 public:
  struct Mount {
    std::string mountPoint;
    std::string source;               // the mounted device ("/dev/sdb1") or file system name
    std::optional<std::string> uuid;  // when /dev/disk/by-uuid names the device
    bool external = false;
    bool operator==(const Mount&) const = default;
  };

  explicit VolumeWatcher(std::filesystem::path systemRoot = "/", QObject* parent = nullptr);
  ~VolumeWatcher() override;

  // The mounts of a mountinfo text, in its order, without UUIDs; escaped characters
  // ("\040" for a space) decoded.
  static std::vector<Mount> parseMountInfo(std::string_view text);

  // Reads the mount table again.
  void reload();
  const std::vector<Mount>& mounts() const { return mounts_; }
  // The mount whose mount point holds path (the deepest one).
  std::optional<Mount> mountOf(const std::string& path) const;
  // Where the drive with this UUID is mounted now.
  std::optional<std::string> mountPointOf(const std::string& uuid) const;
  std::optional<std::string> bootVolumeUUID() const;

  // What adding the folder at path stores about its drive: a bookmark when the drive has a
  // UUID, and its name (the mount point's last component) for an external drive.
  FolderRules::Volume describe(const std::string& path) const;
  // Where a stored folder can be read now: through its bookmark's drive wherever that is
  // mounted; a folder that names a drive only when that drive is the one at its path; else
  // its path. Nothing when its drive is not connected.
  std::optional<std::string> locate(const Root& root) const;

 signals:
  // The mount table changed (a drive came, went or moved); mounts() is already re-read.
  void changed();

 private:
  std::string readTable();
  void fillDrives(std::vector<Mount>& mounts) const;
  bool isExternal(const std::string& device, const std::string& bootDisk) const;
  std::string deviceName(const std::string& source) const;

  const std::filesystem::path systemRoot_;
  int table_ = -1;  // the open mount table, polled for POLLPRI
  QSocketNotifier* notifier_ = nullptr;
  std::vector<Mount> mounts_;
};

}  // namespace quillmere
