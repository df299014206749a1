// SPDX-License-Identifier: GPL-3.0-or-later
// The options of index (cli/IndexCommand.cpp runs it).
#pragma once

#include <string>
#include <vector>

#include "CommandLine.h"

namespace quillmere {

struct IndexOptions {
  std::vector<std::string> operands;
  bool watch = false;
  bool readText = true;
  bool findFaces = true;

  void take(const std::string& arg, const CommandLine::Value&) {
    if (arg == "--watch") watch = true;
    if (arg == "--no-text") readText = false;
    if (arg == "--no-faces") findFaces = false;
  }
  void check() const {}
};

}  // namespace quillmere
