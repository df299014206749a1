// SPDX-License-Identifier: GPL-3.0-or-later
// Conversions between floats and IEEE 754 binary16 bit patterns, one value or a vector.
#include "core/Float16.h"

#include <cpuid.h>
#include <immintrin.h>

#include <bit>
#include <cassert>

namespace quillmere {

Half halfFromFloat(float value) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  const std::uint32_t sign = (bits >> 16) & 0x8000u;
  const std::uint32_t magnitude = bits & 0x7fffffffu;

  if (magnitude >= 0x7f800000u) {
    if (magnitude == 0x7f800000u) return static_cast<Half>(sign | 0x7c00u);
    // NaN: quieted, top payload bits kept, as the hardware does.
    return static_cast<Half>(sign | 0x7e00u | ((magnitude >> 13) & 0x3ffu));
  }
  // 65520 is halfway between the largest half (65504) and 65536; the tie goes to the
  // even neighbour, which is infinity.
  if (magnitude >= 0x477ff000u) return static_cast<Half>(sign | 0x7c00u);

  if (magnitude < 0x38800000u) {  // below 2^-14: a subnormal half or zero
    if (magnitude <= 0x33000000u) return static_cast<Half>(sign);  // at most 2^-25
    const std::uint32_t exponent = magnitude >> 23;
    const std::uint32_t mantissa = (magnitude & 0x7fffffu) | 0x800000u;
    const std::uint32_t shift = 126 - exponent;  // to units of 2^-24
    std::uint32_t result = mantissa >> shift;
    const std::uint32_t rest = mantissa & ((1u << shift) - 1);
    const std::uint32_t halfway = 1u << (shift - 1);
    if (rest > halfway || (rest == halfway && (result & 1u))) ++result;
    return static_cast<Half>(sign | result);
  }

  // Normal: rebias the exponent (127 to 15) and round away the low 13 bits. A carry
  // out of the mantissa correctly bumps the exponent.
  std::uint32_t result = (magnitude - 0x38000000u) >> 13;
  const std::uint32_t rest = magnitude & 0x1fffu;
  if (rest > 0x1000u || (rest == 0x1000u && (result & 1u))) ++result;
  return static_cast<Half>(sign | result);
}

float floatFromHalf(Half value) {
  const std::uint32_t sign = static_cast<std::uint32_t>(value & 0x8000u) << 16;
  const std::uint32_t exponent = (value >> 10) & 0x1fu;
  const std::uint32_t mantissa = value & 0x3ffu;
  std::uint32_t bits;
  if (exponent == 0x1f) {
    // Infinity, or NaN made quiet with its payload kept, as the hardware does.
    bits = sign | 0x7f800000u | (mantissa << 13) | (mantissa ? 0x400000u : 0u);
  } else if (exponent != 0) {
    bits = sign | ((exponent + 112) << 23) | (mantissa << 13);
  } else if (mantissa == 0) {
    bits = sign;
  } else {
    // Subnormal: normalise so the leading one becomes implicit.
    const int leading = std::countl_zero(mantissa) - 22;  // zeros above the top bit, within 10 bits
    const std::uint32_t normalised = (mantissa << (leading + 1)) & 0x3ffu;
    bits = sign | static_cast<std::uint32_t>(113 - leading - 1) << 23 | (normalised << 13);
  }
  return std::bit_cast<float>(bits);
}

bool hasHardwareHalfConversion() {
  // cpuid rather than __builtin_cpu_supports("f16c"), which clang 14 does not know.
  static const bool has = [] {
    unsigned a = 0, b = 0, c = 0, d = 0;
    return __get_cpuid(1, &a, &b, &c, &d) && (c & bit_F16C) && __builtin_cpu_supports("avx");
  }();
  return has;
}

__attribute__((target("f16c"))) Half hardwareHalfFromFloat(float value) {
  return static_cast<Half>(_cvtss_sh(value, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
}

__attribute__((target("f16c"))) float hardwareFloatFromHalf(Half value) {
  return _cvtsh_ss(value);
}

namespace {

__attribute__((target("avx,f16c"))) void hardwareHalvesFromFloats(const float* in, Half* out,
                                                                  std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i h =
        _mm256_cvtps_ph(_mm256_loadu_ps(in + i), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), h);
  }
  for (; i < n; ++i) out[i] = hardwareHalfFromFloat(in[i]);
}

__attribute__((target("avx,f16c"))) void hardwareFloatsFromHalves(const Half* in, float* out,
                                                                  std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    _mm256_storeu_ps(out + i, _mm256_cvtph_ps(h));
  }
  for (; i < n; ++i) out[i] = hardwareFloatFromHalf(in[i]);
}

}  // namespace

void halvesFromFloats(std::span<const float> in, std::span<Half> out) {
  assert(in.size() == out.size());
  if (hasHardwareHalfConversion()) {
    hardwareHalvesFromFloats(in.data(), out.data(), in.size());
    return;
  }
  for (std::size_t i = 0; i < in.size(); ++i) out[i] = halfFromFloat(in[i]);
}

void floatsFromHalves(std::span<const Half> in, std::span<float> out) {
  assert(in.size() == out.size());
  if (hasHardwareHalfConversion()) {
    hardwareFloatsFromHalves(in.data(), out.data(), in.size());
    return;
  }
  for (std::size_t i = 0; i < in.size(); ++i) out[i] = floatFromHalf(in[i]);
}

std::vector<Half> halvesFromFloats(std::span<const float> in) {
  std::vector<Half> out(in.size());
  halvesFromFloats(in, out);
  return out;
}

std::vector<float> floatsFromHalves(std::span<const Half> in) {
  std::vector<float> out(in.size());
  floatsFromHalves(in, out);
  return out;
}

}  // namespace quillmere
