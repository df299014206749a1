// SPDX-License-Identifier: GPL-3.0-or-later
// Parsing a query into weighted terms and combining their vectors.
#include "search/QueryTerms.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace quillmere {
namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

// "2:golden retriever" -> 2 and "golden retriever"; anything else keeps weight 1.
QueryTerms::Term weighted(std::string_view text, float sign) {
  std::size_t at = 0;
  while (at < text.size() && (isDigit(text[at]) || text[at] == '.')) ++at;
  if (at > 0 && at + 1 < text.size() && text[at] == ':' && !isDigit(text[at + 1])) {
    const std::string number(text.substr(0, at));
    char* end = nullptr;
    const double weight = std::strtod(number.c_str(), &end);
    const std::string_view rest = trim(text.substr(at + 1));
    if (end == number.c_str() + number.size() && weight > 0 && !rest.empty()) {
      if (!(weight >= FLT_MIN && weight <= FLT_MAX))
        throw QueryTerms::Failure::weightOutOfRange(number);
      return {std::string(rest), sign * static_cast<float>(weight)};
    }
  }
  return {std::string(text), sign};
}

}  // namespace

QueryTerms::Failure QueryTerms::Failure::onlyNegative() {
  return Failure(Reason::onlyNegative, {});
}

QueryTerms::Failure QueryTerms::Failure::cancelled() {
  return Failure(Reason::cancelled, {});
}

QueryTerms::Failure QueryTerms::Failure::weightOutOfRange(std::string_view weight) {
  return Failure(Reason::weightOutOfRange, weight);
}

std::vector<QueryTerms::Term> QueryTerms::parse(std::string_view text) {
  std::vector<Term> terms;
  float sign = 1;
  std::size_t start = 0;
  const auto close = [&](std::size_t end) {
    const std::string_view term = trim(text.substr(start, end - start));
    if (!term.empty()) terms.push_back(weighted(term, sign));
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '+' && text[i] != '-') continue;
    const bool alone =
        (i == 0 || isSpace(text[i - 1])) && (i + 1 == text.size() || isSpace(text[i + 1]));
    if (!alone) continue;
    close(i);
    sign = text[i] == '-' ? -1.0f : 1.0f;
    start = i + 1;
  }
  close(text.size());
  return terms;
}

std::vector<float> QueryTerms::combine(std::span<const float> weights,
                                       std::span<const std::vector<float>> vectors) {
  if (weights.size() != vectors.size() || vectors.empty())
    throw std::invalid_argument("one weight for each vector");
  bool positive = false;
  for (float weight : weights) positive = positive || weight > 0;
  if (!positive) throw Failure::onlyNegative();
  std::vector<double> sum(vectors.front().size(), 0.0);
  for (std::size_t t = 0; t < vectors.size(); ++t) {
    const std::vector<float>& vector = vectors[t];
    if (vector.size() != sum.size()) throw std::invalid_argument("vectors of different sizes");
    double norm = 0;
    for (float x : vector) norm += static_cast<double>(x) * x;
    norm = std::sqrt(norm);
    if (norm == 0) continue;  // a term that means nothing adds nothing
    for (std::size_t k = 0; k < sum.size(); ++k) sum[k] += weights[t] * vector[k] / norm;
  }
  double norm = 0;
  for (double x : sum) norm += x * x;
  norm = std::sqrt(norm);
  if (!(norm > 1e-6)) throw Failure::cancelled();
  std::vector<float> combined(sum.size());
  for (std::size_t k = 0; k < sum.size(); ++k) combined[k] = static_cast<float>(sum[k] / norm);
  return combined;
}

}  // namespace quillmere
