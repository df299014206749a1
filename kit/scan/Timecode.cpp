// SPDX-License-Identifier: GPL-3.0-or-later
// Time codes of seconds, long ("00:01:15") and short ("1:15").
#include "scan/Timecode.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace quillmere {

namespace {

// Whole seconds, rounded down; negative, NaN and absurd values count as 0 so that a
// damaged duration never turns into a garbage label.
std::int64_t wholeSeconds(double seconds) {
  if (!(seconds > 0)) return 0;
  if (seconds > 9.0e15) return 0;
  return static_cast<std::int64_t>(std::floor(seconds));
}

}  // namespace

std::string timecode(double seconds) {
  const std::int64_t s = wholeSeconds(seconds);
  char text[48];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
  return text;
}

std::string shortTimecode(double seconds) {
  const std::int64_t s = wholeSeconds(seconds);
  char text[48];
  if (s < 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
  }
  return text;
}

}  // namespace quillmere
