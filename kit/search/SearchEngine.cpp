// SPDX-License-Identifier: GPL-3.0-or-later
// Searching: a query's vector, the scan, the moments and the exact times refined.
#include "search/SearchEngine.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <map>
#include <numeric>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>

#include "core/Float16.h"
#include "core/PictureText.h"
#include "index/Library.h"
#include "model/Embedder.h"
#include "scan/FrameSampler.h"
#include "search/QueryTerms.h"
#include "search/TextFinder.h"

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

constexpr double sameTime = 1e-9;  // seconds: a sample time that is the result's own

// Exact frames around a video result, its own frame among them.
struct Samples {
  std::vector<FrameSampler::Frame> frames;  // empty when the own frame could not be made
  std::size_t own = 0;
  bool ownIsSample = false;  // the own time is one of the sample times as well
};

// The sample times every refineStep within refineSpan of the time, and the frame at the time
// itself: it decides which samples show its scene.
Samples samplesAround(double time, const std::filesystem::path& filePath) {
  Samples samples;
  std::vector<double> times =
      FrameSampler::stepTimes(time, SearchEngine::refineSpan, SearchEngine::refineStep);
  if (times.empty() || time < 0) return samples;
  const auto at = std::lower_bound(times.begin(), times.end(), time - sameTime);
  samples.ownIsSample = at != times.end() && std::abs(*at - time) <= sameTime;
  if (!samples.ownIsSample) times.insert(at, time);
  samples.frames = FrameSampler::frames(filePath, times, SearchEngine::refinePixels);
  const auto own =
      std::find_if(samples.frames.begin(), samples.frames.end(),
                   [&](const auto& frame) { return std::abs(frame.time - time) <= sameTime; });
  if (own == samples.frames.end()) return Samples{};
  samples.own = static_cast<std::size_t>(own - samples.frames.begin());
  return samples;
}

// Indices of the first and last frame of a run, both included.
struct Span {
  std::size_t first = 0;
  std::size_t last = 0;
};

// The frames around the result's own frame that show its scene: outwards from it, up to the
// first frame that the frame sampler would take for a new scene after it. Each frame is
// compared with the own frame, as the sampler compares with the frame it kept last, so a
// slow pan that ends elsewhere counts as a change too; and the walk stops there, because a
// frame past a cut is another shot even when it looks like the first one again.
Span sceneAround(const std::vector<FrameSampler::Frame>& frames, std::size_t own) {
  const FrameSampler::VideoPlan plan;
  const FrameSampler::Signature ownSignature = FrameSampler::signature(frames[own].image);
  auto sameScene = [&](std::size_t i) {
    return FrameSampler::sameScene(ownSignature, FrameSampler::signature(frames[i].image), plan);
  };
  Span span{own, own};
  while (span.first > 0 && sameScene(span.first - 1)) --span.first;
  while (span.last + 1 < frames.size() && sameScene(span.last + 1)) ++span.last;
  return span;
}

// A result's score with the lift of the text found in its frame.
float lifted(const SearchResult& result) {
  return result.score + SearchEngine::textLift * result.foundText.share;
}

bool liftedFirst(const SearchResult& a, const SearchResult& b) {
  return lifted(a) > lifted(b);
}

struct Candidate {
  SearchResult result;
  float rank = 0;
};

}  // namespace

SearchEngine::SearchEngine(Library& library, Embedder& embedder)
    : library_(library), embedder_(embedder) {}

std::string SearchEngine::queryText(std::string_view text) {
  return std::string(trimmed(text));
}

std::vector<float> SearchEngine::queryVector(std::string_view text,
                                             std::span<const float> picture) {
  const std::vector<QueryTerms::Term> terms = QueryTerms::parse(queryText(text));
  return queryVector(std::span<const QueryTerms::Term>(terms), picture);
}

std::vector<float> SearchEngine::queryVector(std::span<const QueryTerms::Term> terms,
                                             std::span<const float> picture) {
  // One plain term or a picture alone: its own vector, as a query always had.
  if (terms.empty()) return {picture.begin(), picture.end()};
  if (picture.empty() && terms.size() == 1 && terms.front().weight == 1)
    return embedder_.embed(terms.front().text);
  std::vector<float> weights;
  std::vector<std::vector<float>> vectors;
  if (!picture.empty()) {
    weights.push_back(1);
    vectors.emplace_back(picture.begin(), picture.end());
  }
  for (const QueryTerms::Term& term : terms) {
    weights.push_back(term.weight);
    vectors.push_back(embedder_.embed(term.text));
  }
  return QueryTerms::combine(weights, vectors);
}

SearchEngine::Answer SearchEngine::search(std::string_view text, const SearchFilter& filter,
                                          std::size_t limit) {
  const Clock::time_point start = Clock::now();
  const std::vector<float> query = queryVector(text);
  if (query.empty()) return {};
  const double embedSeconds = secondsSince(start);
  Answer answer = search(std::span<const float>(query), text, filter, limit);
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
  return search(vector, std::string_view(), filter, limit);
}

SearchEngine::Answer SearchEngine::search(std::span<const float> vector, std::string_view text,
                                          const SearchFilter& filter, std::size_t limit) {
  const Clock::time_point start = Clock::now();
  const VectorIndex& index = library_.vectors();
  if (vector.size() != index.dim()) {
    throw std::invalid_argument("The query vector has " + std::to_string(vector.size()) +
                                " components; the library's vectors have " +
                                std::to_string(index.dim()) + ".");
  }
  if (limit == 0) return {};

  const std::vector<VectorIndex::Hit> hits =
      index.search(vector, limit * 4, [&](std::span<const std::int64_t> fileIDs) {
        return library_.filesMatch(fileIDs,
                                   [&](const MediaFile& file) { return filter.admits(file); });
      });

  std::vector<std::int64_t> fileIDs;
  fileIDs.reserve(hits.size());
  for (const VectorIndex::Hit& hit : hits) fileIDs.push_back(hit.row.fileID);
  std::vector<std::optional<MediaFile>> files = library_.filesByID(fileIDs);
  std::vector<SearchResult> found;
  found.reserve(hits.size());
  for (std::size_t i = 0; i < hits.size(); ++i) {
    const VectorIndex::Hit& hit = hits[i];
    if (!files[i]) continue;  // gone since scoring
    const float probability = embedder_.probability(hit.score);
    if (probability < filter.minProbability) continue;
    found.push_back(SearchResult{.frameID = hit.row.frameID,
                                 .file = std::move(*files[i]),
                                 .time = hit.row.time,
                                 .score = hit.score,
                                 .probability = probability});
  }
  const auto lines = addFoundByText(found, vector, text, filter, limit);
  Answer answer;
  answer.results = ranked(std::move(found), limit);
  attachLines(answer.results, lines);
  inOrder(answer.results, filter.order);
  answer.timing.scan = secondsSince(start);
  return answer;
}

std::vector<SearchResult> SearchEngine::ranked(std::vector<SearchResult> results,
                                               std::size_t limit) const {
  std::unordered_map<std::int64_t, std::vector<double>> accepted;  // moment times per file
  accepted.reserve(results.size());
  std::vector<Candidate> candidates;
  candidates.reserve(results.size());
  for (SearchResult& result : results) {
    std::vector<double>& earlier = accepted[result.file.id];
    if (result.file.kind == MediaKind::video &&
        std::any_of(earlier.begin(), earlier.end(),
                    [&](double t) { return std::abs(t - result.time) < momentWindow; })) {
      continue;  // part of a moment already listed
    }
    const float penalty = static_cast<float>(earlier.size()) * repeatPenalty;
    earlier.push_back(result.time);
    const float rank = lifted(result) - penalty;
    candidates.push_back(Candidate{.result = std::move(result), .rank = rank});
  }
  // Sorting places rather than the results spares moving a thousand file records about.
  std::vector<std::size_t> order(candidates.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return candidates[a].rank > candidates[b].rank;
  });

  std::vector<SearchResult> kept;
  kept.reserve(std::min(limit, candidates.size()));
  for (std::size_t i = 0; i < order.size() && i < limit; ++i)
    kept.push_back(std::move(candidates[order[i]].result));
  return kept;
}

std::unordered_map<std::int64_t, std::vector<int>> SearchEngine::addFoundByText(
    std::vector<SearchResult>& found, std::span<const float> vector, std::string_view text,
    const SearchFilter& filter, std::size_t limit) {
  std::unordered_map<std::int64_t, std::vector<int>> lines;
  const std::vector<TextQuery::Piece> pieces = TextQuery::pieces(queryText(text));
  if (pieces.empty()) return lines;
  // As many as the scan's hits, the larger shares first, each file's frames read once.
  std::vector<TextFinder::Found> pictures = TextFinder::find(library_, pieces);
  if (pictures.size() > limit * 4) pictures.resize(limit * 4);
  std::map<std::int64_t, std::vector<TextFinder::Found*>> byFile;
  for (TextFinder::Found& picture : pictures) byFile[picture.fileID].push_back(&picture);
  std::unordered_map<std::int64_t, std::size_t> hitAt;  // frame id to its place in found
  for (std::size_t i = 0; i < found.size(); ++i) hitAt.emplace(found[i].frameID, i);
  for (const auto& [fileID, inFile] : byFile) {
    const std::optional<MediaFile> file = library_.file(fileID);
    if (!file || !filter.admits(*file)) continue;
    // The stored frames the text was read in; none while the file is indexed again.
    for (const auto& [row, halves] : library_.vectors().vectors(fileID)) {
      for (TextFinder::Found* picture : inFile) {
        if (std::abs(row.time - picture->time) > sameTime || lines.contains(row.frameID)) continue;
        auto hit = hitAt.find(row.frameID);
        if (hit == hitAt.end()) {
          const float s = score(vector, halves);
          hit = hitAt.emplace(row.frameID, found.size()).first;
          found.push_back(SearchResult{.frameID = row.frameID,
                                       .file = *file,
                                       .time = row.time,
                                       .score = s,
                                       .probability = embedder_.probability(s)});
        }
        found[hit->second].foundText.share = picture->share;
        lines[row.frameID] = picture->lines;
      }
    }
  }
  std::stable_sort(found.begin(), found.end(), liftedFirst);
  return lines;
}

void SearchEngine::attachLines(std::vector<SearchResult>& results,
                               const std::unordered_map<std::int64_t, std::vector<int>>& lines) {
  for (SearchResult& result : results) {
    const auto places = lines.find(result.frameID);
    if (places == lines.end()) continue;
    for (const Library::StageRow& row : library_.stageRows(result.file.id, Library::textStage)) {
      if (std::abs(row.time - result.time) > sameTime) continue;
      const PictureText text = PictureText::decoded(row.data);
      for (const int place : places->second) {
        if (place >= 0 && static_cast<std::size_t>(place) < text.lines.size())
          result.foundText.lines.push_back(text.lines[static_cast<std::size_t>(place)]);
      }
      break;
    }
  }
}

void SearchEngine::inOrder(std::vector<SearchResult>& results, SearchFilter::Order order) {
  if (order == SearchFilter::Order::best) return;
  const bool newest = order == SearchFilter::Order::newest;
  // Stable: moments taken at one time (the frames of one video) keep their best-first order.
  std::stable_sort(results.begin(), results.end(),
                   [newest](const SearchResult& a, const SearchResult& b) {
                     const double ta = a.file.captureTime().seconds;
                     const double tb = b.file.captureTime().seconds;
                     return newest ? ta > tb : ta < tb;
                   });
}

SearchEngine::Refinement SearchEngine::refine(const SearchResult& result,
                                              std::span<const float> query,
                                              const std::filesystem::path& filePath) {
  const Refinement unchanged{result.time, result.score};
  if (result.file.kind != MediaKind::video) return unchanged;
  try {
    const Samples samples = samplesAround(result.time, filePath);
    if (samples.frames.empty()) return unchanged;
    const Span scene = sceneAround(samples.frames, samples.own);
    std::vector<Picture> pictures;
    std::vector<double> times;
    for (std::size_t i = scene.first; i <= scene.last; ++i) {
      if (i == samples.own && !samples.ownIsSample) continue;
      pictures.push_back(samples.frames[i].image);
      times.push_back(samples.frames[i].time);
    }
    if (pictures.empty()) return unchanged;
    const std::vector<std::vector<Half>> vectors = embedder_.embed(pictures);

    Refinement best = unchanged;
    const std::size_t n = std::min(times.size(), vectors.size());
    for (std::size_t i = 0; i < n; ++i) {
      const float s = score(query, vectors[i]);
      if (s > best.score) best = Refinement{times[i], s};
    }
    return best;
  } catch (...) {
    // Refining only sharpens a result already found; any failure keeps it as it was.
    return unchanged;
  }
}

std::vector<SearchResult> SearchEngine::refineAll(std::vector<SearchResult> results,
                                                  std::span<const float> query) {
  for (SearchResult& result : results) {
    const std::optional<std::filesystem::path> filePath = library_.filePath(result.file);
    if (!filePath) continue;
    const Refinement refined = refine(result, query, *filePath);
    result.time = refined.time;
    result.score = refined.score;
    result.probability = embedder_.probability(refined.score);
  }
  // Best first, as search hands them to ranking, so that merging keeps the better moment.
  std::stable_sort(results.begin(), results.end(), liftedFirst);
  const std::size_t count = results.size();
  return ranked(std::move(results), count);
}

}  // namespace quillmere
