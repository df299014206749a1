// SPDX-License-Identifier: GPL-3.0-or-later
// FakeSystemTree: the power profile and thermal zone files it writes.
#include "support/FakeSystemTree.h"

#include <fstream>

namespace quillmere::test {
namespace {

void writeText(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file) << text << "\n";
}

std::string millidegrees(double celsius) {
  return std::to_string(static_cast<long>(celsius * 1000));
}

}  // namespace

FakeSystemTree::FakeSystemTree(std::filesystem::path root) : root_(std::move(root)) {
  std::filesystem::create_directories(root_ / "sys/class/thermal");
}

void FakeSystemTree::setDaemonProfile(const std::string& profile) {
  writeText(root_ / "var/lib/power-profiles-daemon/state.ini",
            "[State]\nDriver=platform_profile\nProfile=" + profile);
}

void FakeSystemTree::setPlatformProfile(const std::string& profile) {
  writeText(root_ / "sys/firmware/acpi/platform_profile", profile);
}

void FakeSystemTree::setZone(int zone, double temperature, double passive, double critical) {
  const auto dir = root_ / "sys/class/thermal" / ("thermal_zone" + std::to_string(zone));
  writeText(dir / "type", "x86_pkg_temp");
  writeText(dir / "trip_point_0_type", "passive");
  writeText(dir / "trip_point_0_temp", millidegrees(passive));
  writeText(dir / "trip_point_1_type", "critical");
  writeText(dir / "trip_point_1_temp", millidegrees(critical));
  // Written last, through a rename, so a reader never sees half a number.
  writeText(dir / "temp.new", millidegrees(temperature));
  std::filesystem::rename(dir / "temp.new", dir / "temp");
}

}  // namespace quillmere::test
