#include "VolumeWatcher.h"

#include <QSocketNotifier>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

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

bool holds(const std::string& folder, const std::string& path) {
  return path == folder || folder == "/" ||
         (path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/');
}

}  // namespace

VolumeWatcher::VolumeWatcher(std::filesystem::path systemRoot, QObject* parent)
    : QObject(parent), systemRoot_(std::move(systemRoot)) {
  const auto table = systemRoot_ / "proc/self/mountinfo";
  table_ = ::open(table.c_str(), O_RDONLY | O_CLOEXEC);
  if (table_ >= 0) {
    // The kernel flags a change of the table as an exceptional condition (POLLPRI).
    notifier_ = new QSocketNotifier(table_, QSocketNotifier::Exception, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
      reload();
      emit changed();
    });
  }
  reload();
}

VolumeWatcher::~VolumeWatcher() {
  delete notifier_;
  if (table_ >= 0) ::close(table_);
}

std::vector<VolumeWatcher::Mount> VolumeWatcher::parseMountInfo(std::string_view text) {
  std::vector<Mount> mounts;
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
    mounts.push_back(Mount{unescaped(fields[4]), unescaped(fields[dash + 2])});
  }
  return mounts;
}

std::string VolumeWatcher::readTable() {
  std::string text;
  if (table_ >= 0) {
    // Reading the table from its start also acknowledges the change that woke us.
    ::lseek(table_, 0, SEEK_SET);
    char buffer[8192];
    for (;;) {
      const auto got = ::read(table_, buffer, sizeof buffer);
      if (got <= 0) break;
      text.append(buffer, static_cast<std::size_t>(got));
    }
  }
  return text;
}

void VolumeWatcher::reload() {
  auto mounts = parseMountInfo(readTable());
  fillDrives(mounts);
  mounts_ = std::move(mounts);
}

std::string VolumeWatcher::deviceName(const std::string& source) const {
  if (!source.starts_with("/dev/")) return {};
  std::error_code error;
  const auto inTree = systemRoot_ / source.substr(1);
  if (std::filesystem::is_symlink(inTree, error)) {
    return std::filesystem::read_symlink(inTree, error).filename().string();
  }
  return std::filesystem::path(source).filename().string();
}

bool VolumeWatcher::isExternal(const std::string& device, const std::string& bootDisk) const {
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

void VolumeWatcher::fillDrives(std::vector<Mount>& mounts) const {
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
  for (const auto& mount : mounts) {
    if (mount.mountPoint == "/") bootDisk = diskOf(deviceName(mount.source));
  }
  for (auto& mount : mounts) {
    const auto device = deviceName(mount.source);
    if (device.empty()) continue;
    if (const auto found = uuidOfDevice.find(device); found != uuidOfDevice.end()) {
      mount.uuid = found->second;
    }
    mount.external = isExternal(device, bootDisk);
  }
}

std::optional<VolumeWatcher::Mount> VolumeWatcher::mountOf(const std::string& path) const {
  std::optional<Mount> best;
  for (const auto& mount : mounts_) {
    if (!holds(mount.mountPoint, path)) continue;
    // A later mount over the same place hides the earlier one.
    if (!best || mount.mountPoint.size() >= best->mountPoint.size()) best = mount;
  }
  return best;
}

std::optional<std::string> VolumeWatcher::mountPointOf(const std::string& uuid) const {
  for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) {
    if (it->uuid == uuid) return it->mountPoint;
  }
  return std::nullopt;
}

std::optional<std::string> VolumeWatcher::bootVolumeUUID() const {
  const auto boot = mountOf("/");
  return boot ? boot->uuid : std::nullopt;
}

FolderRules::Volume VolumeWatcher::describe(const std::string& path) const {
  FolderRules::Volume volume;
  const auto mount = mountOf(path);
  if (!mount || !mount->uuid) return volume;
  volume.uuid = mount->uuid;
  volume.external = mount->external;
  const auto inner = mount->mountPoint == "/" ? path.substr(1)
                     : path.size() > mount->mountPoint.size()
                         ? path.substr(mount->mountPoint.size() + 1)
                         : std::string();
  volume.bookmark = FolderBookmark{*mount->uuid, inner}.encode();
  if (mount->external) volume.name = std::filesystem::path(mount->mountPoint).filename().string();
  return volume;
}

std::optional<std::string> VolumeWatcher::locate(const Root& root) const {
  if (root.bookmark) {
    if (const auto bookmark = FolderBookmark::decode(*root.bookmark)) {
      const auto place = mountPointOf(bookmark->volumeUUID);
      if (!place) return std::nullopt;
      if (bookmark->inner.empty()) return *place;
      return (std::filesystem::path(*place) / bookmark->inner).string();
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
