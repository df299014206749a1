#include "search/SearchEngine.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>

#include "core/Float16.h"
#include "index/Library.h"
#include "model/Embedder.h"
#include "scan/FrameSampler.h"

namespace quillmere {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Drops Unicode white space (line breaks included) from both ends; bytes that are not
// UTF-8 end the trimming, so they are kept as they are.
std::string_view trimmed(std::string_view text) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto length = static_cast<std::int32_t>(text.size());
  std::int32_t begin = 0;
  while (begin < length) {
    std::int32_t next = begin;
    UChar32 c = 0;
    U8_NEXT(bytes, next, length, c);
    if (c < 0 || !u_isUWhiteSpace(c)) break;
    begin = next;
  }
  std::int32_t end = length;
  while (end > begin) {
    std::int32_t previous = end;
    UChar32 c = 0;
    U8_PREV(bytes, begin, previous, c);
    if (c < 0 || !u_isUWhiteSpace(c)) break;
    end = previous;
  }
  return text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

// The products of the query with the frame's widened components, added in component order.
float score(std::span<const float> query, const std::vector<Half>& vector) {
  const std::size_t n = std::min(query.size(), vector.size());
  float sum = 0;
  for (std::size_t k = 0; k < n; ++k) sum += query[k] * floatFromHalf(vector[k]);
  return sum;
}

struct Candidate {
  SearchResult result;
  float rank = 0;
};

}  // namespace

SearchEngine::SearchEngine(Library& library, Embedder& embedder)
    : library_(library), embedder_(embedder) {}

SearchEngine::Answer SearchEngine::search(std::string_view text, const SearchFilter& filter,
                                          std::size_t limit) {
  const Clock::time_point start = Clock::now();
  const std::vector<float> query = embedder_.embed(trimmed(text));
  const double embedSeconds = secondsSince(start);
  Answer answer = search(std::span<const float>(query), filter, limit);
  answer.timing.embed = embedSeconds;
  return answer;
}

std::vector<SearchResult> SearchEngine::search(const Picture& image, const SearchFilter& filter,
                                               std::size_t limit) {
  const std::vector<std::vector<Half>> vectors =
      embedder_.embed(std::span<const Picture>(&image, 1));
  if (vectors.empty()) return {};
  const std::vector<float> query = floatsFromHalves(vectors.front());
  return search(std::span<const float>(query), filter, limit).results;
}

SearchEngine::Answer SearchEngine::search(std::span<const float> vector, const SearchFilter& filter,
                                          std::size_t limit) {
  const Clock::time_point start = Clock::now();
  const VectorIndex& index = library_.vectors();
  if (vector.size() != index.dim()) {
    throw std::invalid_argument("The query vector has " + std::to_string(vector.size()) +
                                " components; the library's vectors have " +
                                std::to_string(index.dim()) + ".");
  }
  if (limit == 0) return {};

  const std::vector<VectorIndex::Hit> hits =
      index.search(vector, limit * 4, [&](std::int64_t fileID) {
        const std::optional<MediaFile> file = library_.file(fileID);
        return file && filter.admits(*file);
      });

  std::unordered_map<std::int64_t, std::vector<double>> accepted;  // moment times per file
  std::vector<Candidate> candidates;
  candidates.reserve(hits.size());
  for (const VectorIndex::Hit& hit : hits) {
    std::optional<MediaFile> file = library_.file(hit.row.fileID);
    if (!file) continue;  // gone since scoring
    std::vector<double>& earlier = accepted[file->id];
    if (file->kind == MediaKind::video &&
        std::any_of(earlier.begin(), earlier.end(),
                    [&](double t) { return std::abs(t - hit.row.time) < momentWindow; })) {
      continue;  // part of a moment already listed
    }
    const float penalty = static_cast<float>(earlier.size()) * repeatPenalty;
    earlier.push_back(hit.row.time);
    candidates.push_back(
        Candidate{.result = SearchResult{.frameID = hit.row.frameID,
                                         .file = std::move(*file),
                                         .time = hit.row.time,
                                         .score = hit.score,
                                         .probability = embedder_.probability(hit.score)},
                  .rank = hit.score - penalty});
  }
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return a.rank > b.rank; });

  Answer answer;
  const std::size_t kept = std::min(limit, candidates.size());
  answer.results.reserve(kept);
  for (std::size_t i = 0; i < kept; ++i) answer.results.push_back(std::move(candidates[i].result));
  answer.timing.scan = secondsSince(start);
  return answer;
}

SearchEngine::Refinement SearchEngine::refine(const SearchResult& result,
                                              std::span<const float> query,
                                              const std::filesystem::path& url) {
  const Refinement unchanged{result.time, result.score};
  if (result.file.kind != MediaKind::video) return unchanged;
  try {
    const std::vector<FrameSampler::Frame> frames =
        FrameSampler::frames(url, result.time, refineSpan, refineStep, refinePixels);
    if (frames.empty()) return unchanged;
    std::vector<Picture> pictures;
    pictures.reserve(frames.size());
    for (const FrameSampler::Frame& frame : frames) pictures.push_back(frame.image);
    const std::vector<std::vector<Half>> vectors = embedder_.embed(pictures);

    Refinement best = unchanged;
    const std::size_t n = std::min(frames.size(), vectors.size());
    for (std::size_t i = 0; i < n; ++i) {
      const float s = score(query, vectors[i]);
      if (s > best.score) best = Refinement{frames[i].time, s};
    }
    return best;
  } catch (...) {
    // Refining only sharpens a result already found; any failure keeps it as it was.
    return unchanged;
  }
}

}  // namespace quillmere
