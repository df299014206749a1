// SPDX-License-Identifier: GPL-3.0-or-later
// A query of several terms, added and taken away: "beach + sunset - people", and a term may
// carry a weight, "2:golden retriever". The combined query vector is the weighted sum of the
// terms' normalised vectors (a taken-away term's weight counts negative), normalised again.
#pragma once

#include <cfloat>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

class QueryTerms {
 public:
  struct Term {
    std::string text;
    float weight = 1;  // negative for a term to avoid
    bool operator==(const Term&) const = default;
  };

  // The query cannot be combined, and why; the front ends word it. For weightOutOfRange,
  // what() is the weight as written.
  class Failure : public std::runtime_error {
   public:
    enum class Reason { onlyNegative, cancelled, weightOutOfRange };
    static Failure onlyNegative();
    static Failure cancelled();
    static Failure weightOutOfRange(std::string_view weight);
    Reason reason() const { return reason_; }
    // The weights a term may have.
    static constexpr float lowestWeight = FLT_MIN;
    static constexpr float highestWeight = FLT_MAX;

   private:
    Failure(Reason reason, std::string_view weight)
        : std::runtime_error(std::string(weight)), reason_(reason) {}
    Reason reason_;
  };

  QueryTerms() = delete;

  // Splits at a "+" or "-" standing alone between spaces (so "t-shirt" stays whole); a
  // leading "-" takes the first term away. A term beginning "N:" (N > 0, then a letter or
  // space, so "2:30 pm" stays text) carries weight N. Empty terms are dropped; a text with no
  // operator is one term of weight 1. Throws Failure::weightOutOfRange for a weight a float
  // cannot hold (it would make the query vector NaN).
  static std::vector<Term> parse(std::string_view text);

  // Sum of weight * vector / |vector| over the terms, normalised; every vector of one size.
  // Throws Failure::onlyNegative when no weight is positive, Failure::cancelled when the sum
  // is zero.
  static std::vector<float> combine(std::span<const float> weights,
                                    std::span<const std::vector<float>> vectors);
};

}  // namespace quillmere
