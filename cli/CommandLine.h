// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a subcommand's arguments: its operands and the options it accepts, each option's
// value checked as it comes, and the errors that end the program with a usage status.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "search/PictureRegion.h"
#include "search/SearchFilter.h"

namespace quillmere {

// A failure the user can act on; status is the exit status (2 for wrong usage).
class CommandError : public std::runtime_error {
 public:
  CommandError(const std::string& message, int status = 1);
  int status() const { return status_; }

 private:
  int status_;
};

namespace CommandLine {

using Value = std::function<std::string()>;  // the next argument, as an option's value

std::size_t parseLimit(const std::string& text);
std::optional<double> parseSeconds(const std::string& text);
PictureRegion parseRegion(const std::string& text);
double parseDate(const std::string& option, const std::string& text);
SearchFilter::Order parseOrder(const std::string& text);
float parseProbability(const std::string& text);

// Options is a command's own options: operands, take(arg, value) for an option it accepts,
// and check() once all are read. usage is told with an option the command does not have.
template <class Options>
Options parse(std::string_view command, const std::vector<std::string_view>& accepted,
              bool operandsOnly, const std::vector<std::string>& args, std::string (*usage)()) {
  const std::string name(command);
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const auto& arg = args[i];
    if (operandsOnly || arg.size() < 2 || arg[0] != '-') {
      options.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      operandsOnly = true;
      continue;
    }
    if (std::find(accepted.begin(), accepted.end(), arg) == accepted.end()) {
      throw CommandError("'" + name + "' has no option " + arg + "\n" + usage(), 2);
    }
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) throw CommandError(arg + " needs a value", 2);
      return args[++i];
    };
    options.take(arg, value);
  }
  options.check();
  return options;
}

// Only operands, and --json where the command accepts it.
struct PlainOptions {
  std::vector<std::string> operands;
  bool json = false;
  void take(const std::string& arg, const Value&) {
    if (arg == "--json") json = true;
  }
  void check() const {}
};

}  // namespace CommandLine
}  // namespace quillmere
