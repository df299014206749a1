// SPDX-License-Identifier: GPL-3.0-or-later
// The power-saving mode and thermal state, read from files below a system root.
#include "platform/PowerMonitor.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

namespace quillmere {
namespace {

std::optional<std::string> firstLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

std::optional<long> number(const std::filesystem::path& file) {
  const auto line = firstLine(file);
  if (!line) return std::nullopt;
  long value = 0;
  const char* end = line->data() + line->size();
  auto [ptr, ec] = std::from_chars(line->data(), end, value);
  if (ec != std::errc() || ptr == line->data()) return std::nullopt;
  return value;
}

// power-profiles-daemon keeps the chosen profile in an ini file: "Profile=power-saver".
bool daemonProfileIsPowerSaver(const std::filesystem::path& stateFile) {
  std::ifstream in(stateFile);
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.rfind("Profile=", 0) == 0) return line.substr(8) == "power-saver";
  }
  return false;
}

}  // namespace

PowerMonitor::PowerMonitor(std::filesystem::path root) : root_(std::move(root)) {}

bool PowerMonitor::lowPowerMode() const {
  if (daemonProfileIsPowerSaver(root_ / "var/lib/power-profiles-daemon/state.ini")) return true;
  return firstLine(root_ / "sys/firmware/acpi/platform_profile") == "low-power";
}

SystemConditions::ThermalState PowerMonitor::zoneState(const std::filesystem::path& zone) const {
  const auto temp = number(zone / "temp");
  if (!temp) return ThermalState::nominal;
  ThermalState state = ThermalState::nominal;
  for (int trip = 0;; ++trip) {
    const std::string prefix = "trip_point_" + std::to_string(trip) + "_";
    const auto type = firstLine(zone / (prefix + "type"));
    if (!type) break;
    const auto limit = number(zone / (prefix + "temp"));
    // Zero or negative trip temperatures mean "not set" on many drivers.
    if (!limit || *limit <= 0) continue;
    if (*type == "critical" && *temp >= *limit) {
      state = std::max(state, ThermalState::critical);
    } else if (*type == "passive") {
      if (*temp >= *limit) {
        state = std::max(state, ThermalState::serious);
      } else if (*temp >= *limit - fairMarginMillidegrees) {
        state = std::max(state, ThermalState::fair);
      }
    }
  }
  return state;
}

SystemConditions::ThermalState PowerMonitor::thermalState() const {
  ThermalState worst = ThermalState::nominal;
  std::error_code ec;
  std::filesystem::directory_iterator it(root_ / "sys/class/thermal", ec);
  if (ec) return worst;
  for (const auto& entry : it) {
    if (entry.path().filename().string().rfind("thermal_zone", 0) != 0) continue;
    worst = std::max(worst, zoneState(entry.path()));
  }
  return worst;
}

}  // namespace quillmere
