// SPDX-License-Identifier: GPL-3.0-or-later
#include "Words.h"

namespace quillmere {

std::string Words::nothingToExport() {
  return "There are no video results to export. Search for a moment in your videos first.";
}

std::string Words::exported(std::size_t count, const std::string& fileName) {
  return "Exported " + std::to_string(count) + (count == 1 ? " moment to " : " moments to ") +
         fileName + ".";
}

std::string Words::couldNotSave(const std::string& error) {
  return "Couldn't save the export: " + error;
}

}  // namespace quillmere
