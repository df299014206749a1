// SPDX-License-Identifier: GPL-3.0-or-later
// A made-up system tree for the tests of the machine's readings.
#pragma once

#include <filesystem>
#include <string>

namespace quillmere::test {

// A made-up sysfs (and power-profiles-daemon state) tree read by the real PowerMonitor.
class FakeSystemTree {
 public:
  explicit FakeSystemTree(std::filesystem::path root);
  const std::filesystem::path& root() const { return root_; }
  void setDaemonProfile(const std::string& profile);
  void setPlatformProfile(const std::string& profile);
  // A zone with a passive and a critical trip point, in degrees C.
  void setZone(int zone, double temperature, double passive = 80, double critical = 100);

 private:
  std::filesystem::path root_;
};

}  // namespace quillmere::test
