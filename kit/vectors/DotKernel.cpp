// SPDX-License-Identifier: GPL-3.0-or-later
// Built with -ffp-contract=off (kit/CMakeLists.txt): a fused multiply-add rounds once
// instead of twice and would give other bits than the scalar reference.
#include "vectors/DotKernel.h"

#include <cpuid.h>
#include <immintrin.h>

#include <cstdio>
#include <cstdlib>

namespace quillmere {

namespace {

// Rows scored together. Grouping rows lets one query load serve several, but the scan is
// bound by memory, not arithmetic, and a single row read front to back is the pattern the
// memory system streams best (two rows at once measured 15% slower over 1M x 768 rows).
constexpr std::size_t kGroup = 1;
// How far ahead of the current position the next rows are requested, in halves: 16 KiB,
// the distance that kept the scan nearest a plain read of the same bytes.
constexpr std::size_t kPrefetchAhead = 8192;

// A group of R rows is one contiguous run that a step of 16 components advances by R
// times 16 halves; request the cache lines that far ahead of it (a single row asks for the
// same line on two steps running, which costs less than a branch).
template <std::size_t R>
__attribute__((always_inline)) inline void prefetch(const Half* rows, std::size_t base) {
  if constexpr (kPrefetchAhead > 0) {
    constexpr std::size_t lines = R >= 2 ? R / 2 : 1;
    for (std::size_t line = 0; line < lines; ++line) {
      _mm_prefetch(reinterpret_cast<const char*>(rows + base * R + line * 32 + kPrefetchAhead),
                   _MM_HINT_T0);
    }
  }
}

float referenceRow(const float* query, const Half* row, std::size_t dim) {
  float partial[4][4] = {};
  const std::size_t body = dim - dim % 16;
  for (std::size_t base = 0; base < body; base += 16) {
    for (std::size_t k = 0; k < 4; ++k) {
      for (std::size_t j = 0; j < 4; ++j) {
        const std::size_t c = base + 4 * k + j;
        const float product = query[c] * floatFromHalf(row[c]);
        partial[k][j] = partial[k][j] + product;
      }
    }
  }
  float lanes[4];
  for (std::size_t j = 0; j < 4; ++j) {
    lanes[j] = (partial[0][j] + partial[1][j]) + (partial[2][j] + partial[3][j]);
  }
  float total = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
  for (std::size_t c = body; c < dim; ++c) {
    const float product = query[c] * floatFromHalf(row[c]);
    total = total + product;
  }
  return total;
}

void scorePortable(const float* query, const Half* rows, std::size_t dim, std::size_t count,
                   float* scores) {
  for (std::size_t r = 0; r < count; ++r) scores[r] = referenceRow(query, rows + r * dim, dim);
}

// ---- AVX2 + F16C: each partial-sum pair lives in one 8-lane register. ----

#define QM_AVX2 __attribute__((target("avx2,f16c"), always_inline)) inline

QM_AVX2 __m256 widen8(const Half* p) {
  return _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// low = [p0 | p1], high = [p2 | p3]; then the tail, one product at a time.
QM_AVX2 float finishAvx2(__m256 low, __m256 high, const float* query, const Half* row,
                         std::size_t body, std::size_t dim) {
  const __m128 s01 = _mm_add_ps(_mm256_castps256_ps128(low), _mm256_extractf128_ps(low, 1));
  const __m128 s23 = _mm_add_ps(_mm256_castps256_ps128(high), _mm256_extractf128_ps(high, 1));
  const __m128 s = _mm_add_ps(s01, s23);
  const __m128 pairs = _mm_hadd_ps(s, s);  // s0 + s1, s2 + s3
  float total = _mm_cvtss_f32(_mm_hadd_ps(pairs, pairs));
  for (std::size_t c = body; c < dim; ++c) {
    const float product = query[c] * _cvtsh_ss(row[c]);
    total = total + product;
  }
  return total;
}

template <std::size_t R>
QM_AVX2 void rowsAvx2(const float* query, const Half* rows, std::size_t dim, float* scores) {
  const std::size_t body = dim - dim % 16;
  __m256 low[R];
  __m256 high[R];
  for (std::size_t r = 0; r < R; ++r) low[r] = high[r] = _mm256_setzero_ps();
  for (std::size_t base = 0; base < body; base += 16) {
    const __m256 q0 = _mm256_loadu_ps(query + base);
    const __m256 q1 = _mm256_loadu_ps(query + base + 8);
    prefetch<R>(rows, base);
#pragma GCC unroll 8
    for (std::size_t r = 0; r < R; ++r) {
      const Half* row = rows + r * dim + base;
      low[r] = _mm256_add_ps(low[r], _mm256_mul_ps(q0, widen8(row)));
      high[r] = _mm256_add_ps(high[r], _mm256_mul_ps(q1, widen8(row + 8)));
    }
  }
  for (std::size_t r = 0; r < R; ++r) {
    scores[r] = finishAvx2(low[r], high[r], query, rows + r * dim, body, dim);
  }
}

__attribute__((target("avx2,f16c"))) void scoreAvx2(const float* query, const Half* rows,
                                                    std::size_t dim, std::size_t count,
                                                    float* scores) {
  std::size_t r = 0;
  for (; r + kGroup <= count; r += kGroup) {
    rowsAvx2<kGroup>(query, rows + r * dim, dim, scores + r);
  }
  for (; r < count; ++r) rowsAvx2<1>(query, rows + r * dim, dim, scores + r);
}

// ---- AVX-512F: all four partial sums in one 16-lane register. ----

#define QM_AVX512 __attribute__((target("avx512f,f16c"), always_inline)) inline

// The unmasked forms of two intrinsics trip a false uninitialised-value warning in GCC 12;
// the zero-masked forms with every lane selected compile to the same instructions.
constexpr __mmask16 kAll16 = 0xffff;
constexpr __mmask8 kAll4 = 0xf;

QM_AVX512 float finishAvx512(__m512 sums, const float* query, const Half* row, std::size_t body,
                             std::size_t dim) {
  const __m128 s01 = _mm_add_ps(_mm512_maskz_extractf32x4_ps(kAll4, sums, 0),
                                _mm512_maskz_extractf32x4_ps(kAll4, sums, 1));
  const __m128 s23 = _mm_add_ps(_mm512_maskz_extractf32x4_ps(kAll4, sums, 2),
                                _mm512_maskz_extractf32x4_ps(kAll4, sums, 3));
  const __m128 s = _mm_add_ps(s01, s23);
  const __m128 pairs = _mm_hadd_ps(s, s);
  float total = _mm_cvtss_f32(_mm_hadd_ps(pairs, pairs));
  for (std::size_t c = body; c < dim; ++c) {
    const float product = query[c] * _cvtsh_ss(row[c]);
    total = total + product;
  }
  return total;
}

template <std::size_t R>
QM_AVX512 void rowsAvx512(const float* query, const Half* rows, std::size_t dim, float* scores) {
  const std::size_t body = dim - dim % 16;
  __m512 sums[R];
  for (std::size_t r = 0; r < R; ++r) sums[r] = _mm512_setzero_ps();
  for (std::size_t base = 0; base < body; base += 16) {
    const __m512 q = _mm512_loadu_ps(query + base);
    prefetch<R>(rows, base);
#pragma GCC unroll 8
    for (std::size_t r = 0; r < R; ++r) {
      const __m256i h = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows + r * dim + base));
      sums[r] = _mm512_add_ps(sums[r], _mm512_mul_ps(q, _mm512_maskz_cvtph_ps(kAll16, h)));
    }
  }
  for (std::size_t r = 0; r < R; ++r) {
    scores[r] = finishAvx512(sums[r], query, rows + r * dim, body, dim);
  }
}

__attribute__((target("avx512f,f16c"))) void scoreAvx512(const float* query, const Half* rows,
                                                         std::size_t dim, std::size_t count,
                                                         float* scores) {
  std::size_t r = 0;
  for (; r + kGroup <= count; r += kGroup) {
    rowsAvx512<kGroup>(query, rows + r * dim, dim, scores + r);
  }
  for (; r < count; ++r) rowsAvx512<1>(query, rows + r * dim, dim, scores + r);
}

// cpuid rather than __builtin_cpu_supports("f16c"), which clang 14 does not know.
bool hasF16C() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  return __get_cpuid(1, &a, &b, &c, &d) && (c & bit_F16C);
}

}  // namespace

bool DotKernel::supported(Path path) {
  // Asked once: under a hypervisor the cpuid instruction traps, about 13 us a call, and
  // score() asks for every block of the scan.
  static const bool f16c = hasF16C();
  switch (path) {
    case Path::portable:
      return true;
    case Path::avx2:
      return __builtin_cpu_supports("avx2") && f16c;
    case Path::avx512:
      return __builtin_cpu_supports("avx512f") && f16c;
  }
  return false;
}

DotKernel::Path DotKernel::best() {
  static const Path chosen = supported(Path::avx512) ? Path::avx512
                             : supported(Path::avx2) ? Path::avx2
                                                     : Path::portable;
  return chosen;
}

std::vector<DotKernel::Path> DotKernel::supportedPaths() {
  std::vector<Path> paths;
  for (Path path : {Path::portable, Path::avx2, Path::avx512}) {
    if (supported(path)) paths.push_back(path);
  }
  return paths;
}

const char* DotKernel::name(Path path) {
  switch (path) {
    case Path::portable:
      return "portable";
    case Path::avx2:
      return "avx2";
    case Path::avx512:
      return "avx512";
  }
  return "unknown";
}

void DotKernel::score(Path path, std::span<const float> query, const Half* rows, std::size_t count,
                      float* scores) {
  if (!supported(path)) {
    std::fprintf(stderr, "DotKernel: path %s is not supported by this CPU\n", name(path));
    std::abort();
  }
  switch (path) {
    case Path::portable:
      return scorePortable(query.data(), rows, query.size(), count, scores);
    case Path::avx2:
      return scoreAvx2(query.data(), rows, query.size(), count, scores);
    case Path::avx512:
      return scoreAvx512(query.data(), rows, query.size(), count, scores);
  }
}

float DotKernel::reference(std::span<const float> query, std::span<const Half> row) {
  if (row.size() != query.size()) {
    std::fprintf(stderr, "DotKernel: row of %zu values for a query of %zu\n", row.size(),
                 query.size());
    std::abort();
  }
  return referenceRow(query.data(), row.data(), query.size());
}

}  // namespace quillmere
