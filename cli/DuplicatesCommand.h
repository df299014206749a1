// SPDX-License-Identifier: GPL-3.0-or-later
// The options of duplicates (cli/DuplicatesCommand.cpp runs it).
#pragma once

#include <string>
#include <vector>

#include "CommandLine.h"

namespace quillmere {

struct DuplicatesOptions {
  std::vector<std::string> operands;
  bool near = false;
  bool json = false;

  void take(const std::string& arg, const CommandLine::Value&) {
    if (arg == "--near") near = true;
    if (arg == "--json") json = true;
  }
  void check() const {}
};

}  // namespace quillmere
