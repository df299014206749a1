// SPDX-License-Identifier: GPL-3.0-or-later
// The command line's English for what the engine reports as a reason with its data.
#pragma once

#include <cstddef>
#include <string>

namespace quillmere {

class Words {
 public:
  Words() = delete;

  static std::string nothingToExport();
  // "Exported 1 moment to name." / "Exported N moments to name."
  static std::string exported(std::size_t count, const std::string& fileName);
  static std::string couldNotSave(const std::string& error);
};

}  // namespace quillmere
