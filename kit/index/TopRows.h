// The best rows of a scan by score, at most a fixed number of them. Higher scores are
// better; among equal scores the earlier row is, so that the answer does not depend on the
// order rows were offered in. NaN and minus infinity never count.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

namespace quillmere {

class TopRows {
 public:
  struct Entry {
    float score;
    std::size_t row;
  };

  explicit TopRows(std::size_t limit);

  // A cheap test before offer: false when a row of this score cannot get in.
  bool wouldKeep(float score) const {
    if (std::isnan(score) || score == -std::numeric_limits<float>::infinity()) return false;
    return heap_.size() < limit_ || (!heap_.empty() && score >= heap_.front().score);
  }
  void offer(Entry entry);
  // The rows kept, best first.
  std::vector<Entry> sorted() const;

 private:
  static bool better(const Entry& a, const Entry& b) {
    return a.score > b.score || (a.score == b.score && a.row < b.row);
  }

  std::size_t limit_;
  std::vector<Entry> heap_;  // the worst kept entry first
};

}  // namespace quillmere
