// SPDX-License-Identifier: GPL-3.0-or-later
// The options of people (cli/PeopleCommand.cpp runs it).
#pragma once

#include <string>
#include <vector>

#include "CommandLine.h"

namespace quillmere {

struct PeopleOptions {
  std::vector<std::string> operands;
  bool yes = false;  // forget without asking
  bool json = false;

  void take(const std::string& arg, const CommandLine::Value& value);
  void check() const {}
};

}  // namespace quillmere
