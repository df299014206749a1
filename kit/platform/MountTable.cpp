// SPDX-License-Identifier: GPL-3.0-or-later
// The mount table read from /proc/self/mountinfo, drives described and folders located.
#include "platform/MountTable.h"

#include <cctype>
#include <fstream>
#include <initializer_list>
#include <map>
#include <sstream>
#include <system_error>

namespace quillmere {
namespace {

// mountinfo escapes space, tab, newline and backslash as three octal digits.
std::string unescaped(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() &&
        std::isdigit(static_cast<unsigned char>(field[i + 1]))) {
      out += static_cast<char>(std::stoi(std::string(field.substr(i + 1, 3)), nullptr, 8));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t at = 0;
  while (at < line.size()) {
    const auto end = line.find(' ', at);
    const auto word = line.substr(at, end == std::string_view::npos ? end : end - at);
    if (!word.empty()) out.push_back(word);
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  return out;
}

// "sdb1" -> "sdb", "nvme0n1p2" -> "nvme0n1", "mmcblk0p1" -> "mmcblk0".
std::string diskOf(std::string device) {
  while (!device.empty() && std::isdigit(static_cast<unsigned char>(device.back()))) {
    device.pop_back();
  }
  if (device.size() > 1 && device.back() == 'p' &&
      std::isdigit(static_cast<unsigned char>(device[device.size() - 2]))) {
    device.pop_back();
  }
  return device;
}

// The part of path below folder: "" for folder itself, else starting with "/".
std::optional<std::string> below(const std::string& folder, const std::string& path) {
  if (path == folder) return std::string();
  if (folder == "/") return path.starts_with("/") ? std::optional(path) : std::nullopt;
  if (path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/') {
    return path.substr(folder.size());
  }
  return std::nullopt;
}

// File systems reached through the network, a FUSE daemon or a virtual machine's host rather
// than a block device: their source names them wherever they are mounted, and they count as
// external. Any other mount is told by its own identity all the same.
bool isShare(std::string_view type, std::string_view source) {
  if (source.starts_with("/dev/")) return false;  // fuseblk and the like sit on a device
  for (const std::string_view network :
       {"nfs", "nfs4", "cifs", "smb3", "smbfs", "9p", "ceph", "glusterfs", "afs", "davfs", "fuse",
        "fuseblk", "virtiofs", "vboxsf"}) {
    if (type == network) return true;
  }
  return type.starts_with("fuse.");
}

bool oneLine(std::initializer_list<std::string_view> fields) {
  for (const auto field : fields) {
    if (field.find('\n') != std::string_view::npos) return false;
  }
  return true;
}

// A mount as the table shows it, with the identity that the table alone gives it.
struct Entry {
  MountTable::Mount mount;
  std::optional<std::string> identity;
};

// A share is known by its type and source alone. A tmpfs, a ZFS dataset or a drive that no UUID
// names is known by what it is and where it is mounted: once unmounted, the directory left at
// its place lies on another file system. One line of text: a bookmark keeps it on a line of its
// own.
Entry entryOf(const std::vector<std::string_view>& fields, std::size_t dash) {
  Entry entry{{unescaped(fields[4]), unescaped(fields[3]), unescaped(fields[dash + 2])}};
  auto& mount = entry.mount;
  const auto type = unescaped(fields[dash + 1]);
  if (!oneLine({type, mount.source, mount.mountPoint})) return entry;
  if (isShare(type, mount.source)) {
    mount.share = type + " " + mount.source;
    entry.identity = mount.share;
  } else {
    entry.identity = type + " " + mount.source + " on " + mount.mountPoint;
  }
  return entry;
}

std::vector<Entry> entries(std::string_view text) {
  std::vector<Entry> found;
  std::size_t at = 0;
  while (at < text.size()) {
    const auto end = text.find('\n', at);
    const auto line = text.substr(at, end == std::string_view::npos ? end : end - at);
    at = end == std::string_view::npos ? text.size() : end + 1;
    const auto fields = words(line);
    // id parent major:minor root mount-point options [optional...] - type source super
    std::size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (fields.size() < 5 || dash + 2 >= fields.size()) continue;
    found.push_back(entryOf(fields, dash));
  }
  return found;
}

std::string joined(const std::string& folder, const std::string& rest) {
  if (rest.empty()) return folder;
  return folder == "/" ? rest : folder + rest;
}

}  // namespace

MountTable::MountTable(std::filesystem::path systemRoot) : systemRoot_(std::move(systemRoot)) {
  reload();
}

std::vector<MountTable::Mount> MountTable::parse(std::string_view text) {
  std::vector<Mount> mounts;
  for (auto& entry : entries(text)) mounts.push_back(std::move(entry.mount));
  return mounts;
}

void MountTable::reload() {
  std::ifstream file(tablePath());
  std::ostringstream text;
  text << file.rdbuf();
  load(text.str());
}

void MountTable::load(std::string_view text) {
  mounts_.clear();
  for (auto& entry : entries(text)) {
    entry.mount.uuid = std::move(entry.identity);  // until a UUID names the drive
    mounts_.push_back(std::move(entry.mount));
  }
  fillDrives();
}

std::string MountTable::deviceName(const std::string& source) const {
  if (!source.starts_with("/dev/")) return {};
  std::error_code error;
  const auto inTree = systemRoot_ / source.substr(1);
  if (std::filesystem::is_symlink(inTree, error)) {
    return std::filesystem::read_symlink(inTree, error).filename().string();
  }
  return std::filesystem::path(source).filename().string();
}

bool MountTable::isExternal(const std::string& device, const std::string& bootDisk) const {
  const auto disk = diskOf(device);
  const auto block = systemRoot_ / "sys/block" / disk;
  std::ifstream removable(block / "removable");
  int flag = 0;
  if (removable >> flag && flag == 1) return true;
  std::error_code error;
  if (std::filesystem::is_symlink(block, error) &&
      std::filesystem::read_symlink(block, error).string().find("/usb") != std::string::npos) {
    return true;
  }
  return !bootDisk.empty() && disk != bootDisk;
}

void MountTable::fillDrives() {
  std::map<std::string, std::string> uuidOfDevice;
  std::error_code error;
  const auto byUUID = systemRoot_ / "dev/disk/by-uuid";
  for (std::filesystem::directory_iterator it(byUUID, error), end; !error && it != end;
       it.increment(error)) {
    const auto target = std::filesystem::read_symlink(it->path(), error);
    if (!error) uuidOfDevice[target.filename().string()] = it->path().filename().string();
    error.clear();
  }
  std::string bootDisk;
  for (const auto& mount : mounts_) {
    if (mount.mountPoint == "/") bootDisk = diskOf(deviceName(mount.source));
  }
  for (auto& mount : mounts_) {
    if (mount.share) {
      mount.external = true;
      continue;
    }
    const auto device = deviceName(mount.source);
    if (device.empty()) continue;
    if (const auto found = uuidOfDevice.find(device); found != uuidOfDevice.end()) {
      mount.uuid = found->second;
    }
    mount.external = isExternal(device, bootDisk);
  }
}

std::optional<std::size_t> MountTable::mountIndexOf(const std::string& path) const {
  std::optional<std::size_t> best;
  for (std::size_t i = 0; i < mounts_.size(); ++i) {
    const auto& place = mounts_[i].mountPoint;
    if (!below(place, path)) continue;
    // A later mount over the same place hides the earlier one.
    if (!best || place.size() >= mounts_[*best].mountPoint.size()) best = i;
  }
  return best;
}

std::optional<MountTable::Mount> MountTable::mountOf(const std::string& path) const {
  const auto index = mountIndexOf(path);
  if (!index) return std::nullopt;
  return mounts_[*index];
}

std::optional<std::string> MountTable::bootVolumeUUID() const {
  const auto boot = mountOf("/");
  return boot ? boot->uuid : std::nullopt;
}

MountTable::Volume MountTable::describe(const std::string& path) const {
  Volume volume;
  const auto index = mountIndexOf(path);
  if (!index || !mounts_[*index].uuid) return volume;
  const auto& mount = mounts_[*index];
  volume.uuid = mount.uuid;
  volume.external = mount.external;
  // Inside the drive, not below the mount point: a btrfs subvolume or a bind mount shows a
  // directory of the drive, and another mount of the same drive may show another one.
  const auto inDrive = joined(mount.root, below(mount.mountPoint, path).value_or(""));
  volume.bookmark = FolderBookmark{*mount.uuid, inDrive.substr(1)}.encode();
  if (mount.external) volume.name = std::filesystem::path(mount.mountPoint).filename().string();
  return volume;
}

std::optional<std::string> MountTable::placeOn(const Mount& mount,
                                               const FolderBookmark& bookmark) const {
  if (bookmark.inner.starts_with('/')) return std::nullopt;
  const auto inner = bookmark.inner.empty() ? std::string() : "/" + bookmark.inner;
  if (bookmark.base == FolderBookmark::Base::mountPoint) return joined(mount.mountPoint, inner);
  const auto rest = below(mount.root, inner.empty() ? std::string("/") : inner);
  if (!rest) return std::nullopt;  // this mount shows another directory of the drive
  return joined(mount.mountPoint, *rest);
}

std::optional<std::string> MountTable::onDrive(const FolderBookmark& bookmark,
                                               const std::string& stored) const {
  std::optional<std::string> found;
  for (std::size_t i = 0; i < mounts_.size(); ++i) {
    const auto& mount = mounts_[i];
    if (mount.uuid != bookmark.volumeUUID) continue;
    const auto place = placeOn(mount, bookmark);
    // A mount hidden by a later one at or above the place shows another drive there.
    if (!place || mountIndexOf(*place) != i) continue;
    if (*place == stored) return place;
    // An older bookmark counts from the top of the drive as it was mounted; only a mount of
    // the top shows the same directory at another place.
    if (bookmark.base == FolderBookmark::Base::mountPoint && mount.root != "/") continue;
    found = place;
  }
  return found;
}

std::optional<std::string> MountTable::locate(const Root& root) const {
  if (root.bookmark) {
    if (const auto bookmark = FolderBookmark::decode(*root.bookmark)) {
      return onDrive(*bookmark, root.path);
    }
  }
  if (root.volumeUUID) {
    // Another drive (or the empty mount point left behind) is not this folder.
    const auto mount = mountOf(root.path);
    if (!mount || mount->uuid != root.volumeUUID) return std::nullopt;
  }
  return root.path;
}

}  // namespace quillmere
