// SPDX-License-Identifier: GPL-3.0-or-later
// Turns a query (a text, an example picture or a ready vector) into ranked moments: scores
// every stored frame through the library's vector index, keeps frames of the wanted kinds
// and folders, merges hits of one video that lie close together into one moment, lowers
// further moments of a file already listed, and attaches a calibrated probability. Holds no
// state between calls but its two tunable fields, which are set before searches start.
#pragma once

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/Picture.h"
#include "search/QueryTerms.h"
#include "search/SearchFilter.h"
#include "search/SearchResult.h"
#include "vectors/VectorIndex.h"

namespace quillmere {

class Embedder;
class Library;

class SearchEngine {
 public:
  // Seconds spent turning the query into a vector, and scoring and ranking.
  struct Timing {
    double embed = 0;
    double scan = 0;
    bool operator==(const Timing&) const = default;
  };

  struct Answer {
    std::vector<SearchResult> results;  // best first, at most the limit asked for
    Timing timing;
    bool operator==(const Answer&) const = default;
  };

  // The best instant found around a video result, and its score.
  struct Refinement {
    double time = 0;
    float score = 0;
    bool operator==(const Refinement&) const = default;
  };

  // Both must outlive the engine.
  SearchEngine(Library& library, Embedder& embedder);

  // Seconds within which two hits of one video are one moment.
  double momentWindow = 8.0;
  // Taken off a result's rank for every earlier result of the same file.
  float repeatPenalty = 0.012f;
  // Added to a result's rank in proportion to how much of a text query is written in its
  // frame (SearchResult::FoundText::share): a picture holding all the query's words comes
  // before pictures that only look like them, and the scores order the rest.
  static constexpr float textLift = 0.5f;

  // The text a query searches for: the given one without white space (line breaks
  // included) at either end. Every front end asks this before searching.
  static std::string queryText(std::string_view text);

  // The vector a text query searches with (as queryText gives it): one term's own vector, or
  // its terms combined by QueryTerms' rule; empty for a text with no term. An example
  // picture's vector, when given, is one more term of weight 1. Throws QueryTerms::Failure;
  // the embedder's failures pass through.
  std::vector<float> queryVector(std::string_view text, std::span<const float> picture = {});
  // The same for terms already parsed, whose texts are embedded as they stand.
  std::vector<float> queryVector(std::span<const QueryTerms::Term> terms,
                                 std::span<const float> picture = {});

  // Text query, its vector from queryVector; an empty one finds nothing and embeds nothing.
  // QueryTerms' and the embedder's failures pass through.
  Answer search(std::string_view text, const SearchFilter& filter, std::size_t limit);
  // Example picture; the embedder's failures pass through.
  std::vector<SearchResult> search(const Picture& image, const SearchFilter& filter,
                                   std::size_t limit);
  // Query of the index's width (std::invalid_argument otherwise); a limit of 0 finds nothing.
  // The filter's capture-time range is applied in the scan; its least probability and date
  // order to the moments kept.
  Answer search(std::span<const float> vector, const SearchFilter& filter, std::size_t limit);
  // The same, also finding the moments whose text holds the words and phrases of text (the
  // query the vector was made from, TextQuery), which carry what was found and are lifted by
  // textLift; their own score is the vector's. The least probability leaves them in.
  // QueryTerms::Failure passes through.
  Answer search(std::span<const float> vector, std::string_view text, const SearchFilter& filter,
                std::size_t limit);

  // Sorts results by capture time as the order asks (stable); best leaves them as they are.
  static void inOrder(std::vector<SearchResult>& results, SearchFilter::Order order);

  // Looks at exact frames every 0.2 s within 1.5 s of a video result's time that show the
  // same scene as the result's own frame, and returns the best-scoring instant; keeps the
  // result's own time and score unless such a frame scores strictly higher. Photos come
  // back unchanged. Never fails. Blocks while the video is decoded, so callers run it off
  // the interface thread.
  Refinement refine(const SearchResult& result, std::span<const float> query,
                    const std::filesystem::path& filePath);

  // Refines every result of a list that query produced (files found through the library)
  // and ranks the list again as search does: moments of one video that came within
  // momentWindow of each other become one, the better kept, and the order follows the
  // refined scores with the repeat penalty. Probabilities follow the refined scores.
  // Never fails; blocks like refine.
  std::vector<SearchResult> refineAll(std::vector<SearchResult> results,
                                      std::span<const float> query);

  static constexpr double refineSpan = 1.5;
  static constexpr double refineStep = 0.2;
  static constexpr std::int64_t refinePixels = 384;

 private:
  // Results given best score first: merged into moments, penalised for repeats, ordered by
  // that rank and cut to limit.
  std::vector<SearchResult> ranked(std::vector<SearchResult> results, std::size_t limit) const;
  // Adds to found (vector hits) up to limit × 4 frames whose text holds the query's words,
  // and marks the hits whose frames do; returns the places of the lines found per frame id.
  std::unordered_map<std::int64_t, std::vector<int>> addFoundByText(
      std::vector<SearchResult>& found, std::span<const float> vector, std::string_view text,
      const SearchFilter& filter, std::size_t limit);
  // The found lines of each result found by text, read from the library.
  void attachLines(std::vector<SearchResult>& results,
                   const std::unordered_map<std::int64_t, std::vector<int>>& lines);

  Library& library_;
  Embedder& embedder_;
};

}  // namespace quillmere
