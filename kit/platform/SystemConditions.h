// SPDX-License-Identifier: GPL-3.0-or-later
// The machine's readings that decide whether background work should rest: the power-saving
// mode and the thermal state. An interface so that the indexer can be driven by a stand-in
// where the machine has no such readings.
#pragma once

namespace quillmere {

class SystemConditions {
 public:
  // Ordered levels; serious and critical pause indexing, fair slows it.
  enum class ThermalState { nominal = 0, fair = 1, serious = 2, critical = 3 };

  virtual ~SystemConditions() = default;
  virtual bool lowPowerMode() const = 0;
  virtual ThermalState thermalState() const = 0;
};

}  // namespace quillmere
