// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/TextFinder.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "core/Utf8.h"
#include "index/Library.h"

namespace quillmere {
namespace {

// The runs of three characters of a folded word, each once.
std::vector<std::string> trigrams(const std::string& folded) {
  std::vector<std::size_t> starts;
  for (std::size_t at = 0; at < folded.size();) {
    starts.push_back(at);
    Utf8::next(folded, at);
  }
  starts.push_back(folded.size());
  std::vector<std::string> runs;
  for (std::size_t i = 0; i + 3 < starts.size(); ++i) {
    std::string run = folded.substr(starts[i], starts[i + 3] - starts[i]);
    if (std::find(runs.begin(), runs.end(), run) == runs.end()) runs.push_back(std::move(run));
  }
  return runs;
}

// Lines that may hold the piece: those holding it as written, then (when slips are allowed)
// those sharing any run of three characters with it.
std::vector<Library::TextLineRef> candidates(Library& library, const TextQuery::Piece& piece) {
  const std::string whole[] = {piece.folded};
  std::vector<Library::TextLineRef> lines = library.linesHolding(whole, TextFinder::candidateLines);
  if (piece.slips == 0) return lines;
  const std::vector<std::string> runs = trigrams(piece.folded);
  std::vector<Library::TextLineRef> more = library.linesHolding(runs, TextFinder::candidateLines);
  lines.insert(lines.end(), std::make_move_iterator(more.begin()),
               std::make_move_iterator(more.end()));
  return lines;
}

struct Picture {
  std::set<int> lines;
  std::map<std::size_t, int> slips;  // fewest slips per piece found
};

}  // namespace

std::vector<TextFinder::Found> TextFinder::find(Library& library,
                                                std::span<const TextQuery::Piece> pieces) {
  std::map<std::pair<std::int64_t, double>, Picture> pictures;
  std::size_t totalWeight = 0;
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    const TextQuery::Piece& piece = pieces[p];
    totalWeight += piece.weight;
    for (const Library::TextLineRef& line : candidates(library, piece)) {
      const std::optional<int> slips = TextQuery::slipsIn(piece.folded, line.folded, piece.slips);
      if (!slips) continue;
      Picture& picture = pictures[{line.fileID, line.time}];
      picture.lines.insert(line.line);
      const auto [at, added] = picture.slips.try_emplace(p, *slips);
      if (!added) at->second = std::min(at->second, *slips);
    }
  }
  std::vector<Found> found;
  for (const auto& [where, picture] : pictures) {
    float held = 0;
    for (const auto& [p, slips] : picture.slips) {
      held += static_cast<float>(pieces[p].weight) * (slips == 0 ? 1.0f : 0.5f);
    }
    found.push_back({.fileID = where.first,
                     .time = where.second,
                     .lines = {picture.lines.begin(), picture.lines.end()},
                     .share = held / static_cast<float>(totalWeight)});
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const Found& a, const Found& b) { return a.share > b.share; });
  return found;
}

}  // namespace quillmere
