// SPDX-License-Identifier: GPL-3.0-or-later
#include "CommandLine.h"

#include <cmath>
#include <exception>

#include "Words.h"
#include "core/CaptureTime.h"

namespace quillmere {

CommandError::CommandError(const std::string& message, int status)
    : std::runtime_error(message), status_(status) {}

namespace CommandLine {

std::size_t parseLimit(const std::string& text) {
  std::size_t used = 0;
  long long value = -1;
  try {
    value = std::stoll(text, &used);
  } catch (const std::exception&) {
    // Not a number at all: the check below reports it with the rest.
  }
  if (used != text.size() || value < 1 || value > 100000) {
    throw CommandError("--limit wants a whole number from 1 to 100000, not '" + text + "'", 2);
  }
  return static_cast<std::size_t>(value);
}

std::optional<double> parseSeconds(const std::string& text) {
  if (text.empty()) return std::nullopt;
  std::size_t used = 0;
  try {
    const double value = std::stod(text, &used);
    if (used == text.size() && value >= 0 && std::isfinite(value)) return value;
  } catch (const std::exception&) {
    // Not a number: the caller reports the operand as it was given.
  }
  return std::nullopt;
}

// "X,Y,W,H" in fractions of the picture.
PictureRegion parseRegion(const std::string& text) {
  const auto region = PictureRegion::parse(text);
  if (!region) {
    throw CommandError(
        "--region wants four numbers X,Y,W,H from 0 to 1, like 0.25,0.25,0.5,0.5, not '" + text +
            "'",
        2);
  }
  if (const auto fault = region->fault(); fault != PictureRegion::Fault::none)
    throw CommandError("--region " + text + ": " + Words::regionFault(fault), 2);
  return *region;
}

// A day "2024-06-01" or month "2024-06" as the start of it in local time.
double parseDate(const std::string& option, const std::string& text) {
  const std::optional<double> start = CaptureTime::startOf(text);
  if (!start) {
    throw CommandError(
        option + " wants a date like 2024-06-01 or a month like 2024-06, not '" + text + "'", 2);
  }
  return *start;
}

SearchFilter::Order parseOrder(const std::string& text) {
  if (text == "best") return SearchFilter::Order::best;
  if (text == "newest") return SearchFilter::Order::newest;
  if (text == "oldest") return SearchFilter::Order::oldest;
  throw CommandError("--order wants best, newest or oldest, not '" + text + "'", 2);
}

// "0.25" or "25%".
float parseProbability(const std::string& text) {
  const bool percent = !text.empty() && text.back() == '%';
  const std::string number = percent ? text.substr(0, text.size() - 1) : text;
  std::size_t used = 0;
  double value = -1;
  try {
    value = std::stod(number, &used);
  } catch (const std::exception&) {
    // Not a number: reported below.
  }
  if (percent) value /= 100;
  if (number.empty() || used != number.size() || !(value >= 0 && value <= 1)) {
    throw CommandError(
        "--min-probability wants a number from 0 to 1 or a percentage like 10%, not '" + text + "'",
        2);
  }
  return static_cast<float>(value);
}

}  // namespace CommandLine
}  // namespace quillmere
