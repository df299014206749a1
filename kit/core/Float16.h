// SPDX-License-Identifier: GPL-3.0-or-later
// IEEE 754 binary16 ("half") conversions. Halves are kept as their bit patterns.
// Every path rounds to nearest, ties to even, and gives the same bits as the CPU's own
// conversion instructions (F16C) where those exist, NaN payloads included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quillmere {

using Half = std::uint16_t;

// One value, portable code.
Half halfFromFloat(float value);
float floatFromHalf(Half value);

// Whole arrays; these use F16C when the CPU has it. Lengths must match.
void halvesFromFloats(std::span<const float> in, std::span<Half> out);
void floatsFromHalves(std::span<const Half> in, std::span<float> out);
std::vector<Half> halvesFromFloats(std::span<const float> in);
std::vector<float> floatsFromHalves(std::span<const Half> in);

// True when the CPU converts in hardware (used by tests to compare the two paths).
bool hasHardwareHalfConversion();
Half hardwareHalfFromFloat(float value);  // only when hasHardwareHalfConversion()
float hardwareFloatFromHalf(Half value);  // only when hasHardwareHalfConversion()

}  // namespace quillmere
