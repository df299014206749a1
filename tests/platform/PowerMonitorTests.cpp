// SPDX-License-Identifier: GPL-3.0-or-later
// The power-saving mode and thermal state as PowerMonitor reads them from a made-up tree.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/PowerMonitor.h"
#include "support/FakeSystemTree.h"
#include "support/TempDirectory.h"

namespace quillmere::test {
namespace {

using Thermal = SystemConditions::ThermalState;

TEST(PowerMonitorTest, ReadsProfilesAndThermalZonesFromTheTree) {
  TempDirectory temp;
  FakeSystemTree tree(temp.path());
  PowerMonitor monitor(temp.path());
  // Nothing to read: off and nominal.
  EXPECT_FALSE(monitor.lowPowerMode());
  EXPECT_EQ(monitor.thermalState(), Thermal::nominal);
  EXPECT_FALSE(PowerMonitor(temp.path() / "missing").lowPowerMode());
  EXPECT_EQ(PowerMonitor(temp.path() / "missing").thermalState(), Thermal::nominal);

  tree.setDaemonProfile("balanced");
  EXPECT_FALSE(monitor.lowPowerMode());
  tree.setDaemonProfile("power-saver");
  EXPECT_TRUE(monitor.lowPowerMode());
  tree.setDaemonProfile("performance");
  tree.setPlatformProfile("low-power");
  EXPECT_TRUE(monitor.lowPowerMode());
  tree.setPlatformProfile("balanced");
  EXPECT_FALSE(monitor.lowPowerMode());

  tree.setZone(0, 50);
  EXPECT_EQ(monitor.thermalState(), Thermal::nominal);
  tree.setZone(0, 69.9);
  EXPECT_EQ(monitor.thermalState(), Thermal::nominal);
  tree.setZone(0, 70);  // 10 degrees below passive
  EXPECT_EQ(monitor.thermalState(), Thermal::fair);
  tree.setZone(0, 80);
  EXPECT_EQ(monitor.thermalState(), Thermal::serious);
  tree.setZone(0, 99);
  EXPECT_EQ(monitor.thermalState(), Thermal::serious);
  tree.setZone(0, 100);
  EXPECT_EQ(monitor.thermalState(), Thermal::critical);
  // The worst zone counts.
  tree.setZone(0, 40);
  tree.setZone(1, 85, 84, 120);
  EXPECT_EQ(monitor.thermalState(), Thermal::serious);
  // A zone with a temperature but no usable trips (unset trips read 0) counts as nominal.
  tree.setZone(1, 85, 0, 0);
  EXPECT_EQ(monitor.thermalState(), Thermal::nominal);
  // A zone whose temperature cannot be read counts as nominal.
  std::filesystem::remove(temp.path() / "sys/class/thermal/thermal_zone1/temp");
  tree.setZone(0, 75);
  EXPECT_EQ(monitor.thermalState(), Thermal::fair);
}

}  // namespace
}  // namespace quillmere::test
