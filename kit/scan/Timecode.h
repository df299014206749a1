// SPDX-License-Identifier: GPL-3.0-or-later
// Time codes of a number of seconds, both on whole seconds rounded down.
#pragma once

#include <string>

namespace quillmere {

// "HH:MM:SS", hours not capped: 75.9 -> "00:01:15".
std::string timecode(double seconds);
// "M:SS" below an hour, "H:MM:SS" from an hour on: 75.9 -> "1:15", 3725 -> "1:02:05".
std::string shortTimecode(double seconds);

}  // namespace quillmere
