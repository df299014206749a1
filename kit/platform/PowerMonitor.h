// SPDX-License-Identifier: GPL-3.0-or-later
// The real system readings, from files: power-profiles-daemon's saved profile or the ACPI
// platform profile for the power-saving mode, and the /sys/class/thermal zones against their
// trip points for the thermal state. Every path is taken below a root directory ("/" on a
// real machine) so that a made-up tree can stand in for sysfs. Each reading reads the files
// afresh; anything that cannot be read counts as "off" or "nominal".
#pragma once

#include <filesystem>

#include "platform/SystemConditions.h"

namespace quillmere {

class PowerMonitor : public SystemConditions {
 public:
  explicit PowerMonitor(std::filesystem::path root = "/");

  // The power-profiles-daemon profile is "power-saver", or the ACPI platform profile is
  // "low-power".
  bool lowPowerMode() const override;
  // Over all zones, the worst of: critical trip reached -> critical; passive trip reached ->
  // serious; within 10 degrees C below a passive trip -> fair; else nominal.
  ThermalState thermalState() const override;

  static constexpr long fairMarginMillidegrees = 10000;

 private:
  ThermalState zoneState(const std::filesystem::path& zone) const;
  std::filesystem::path root_;
};

}  // namespace quillmere
