// SPDX-License-Identifier: GPL-3.0-or-later
// search, similar and export: moments found by text or by a picture.
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <set>

#include "Commands.h"
#include "Output.h"
#include "Words.h"
#include "engine/PersonFilter.h"
#include "export/ExportPlan.h"
#include "index/Library.h"
#include "model/Embedder.h"
#include "people/People.h"
#include "platform/AtomicFile.h"
#include "platform/MountTable.h"
#include "scan/Timecode.h"
#include "search/MoreLikeThis.h"
#include "search/QueryTerms.h"
#include "search/SearchEngine.h"

namespace quillmere {
namespace {

using CommandLine::parseDate;
using CommandLine::parseLimit;
using CommandLine::parseOrder;
using CommandLine::parseProbability;
using CommandLine::parseRegion;
using CommandLine::parseSeconds;
using Output::printable;

// No half file is left.
void writeAtomically(const std::filesystem::path& file, const std::string& text) {
  try {
    AtomicFile::write(file, text);
  } catch (const AtomicFile::WriteFailed&) {
    throw Commands::Error(Words::couldNotSave("cannot write " + file.string()));
  } catch (const std::filesystem::filesystem_error& error) {
    throw Commands::Error(Words::couldNotSave(file.string() + ": " + error.code().message()));
  }
}

}  // namespace

void SearchOptions::take(const std::string& arg, const CommandLine::Value& value) {
  if (arg == "--photos") photos = true;
  if (arg == "--videos") videos = true;
  if (arg == "--exact") exact = true;
  if (arg == "--json") json = true;
  if (arg == "--folder") folder = value();
  if (arg == "--limit") limit = parseLimit(value());
  if (arg == "-o" || arg == "--output") output = value();
  if (arg == "--after") after = parseDate(arg, value());
  if (arg == "--before") before = parseDate(arg, value());
  if (arg == "--order") order = parseOrder(value());
  if (arg == "--min-probability") minProbability = parseProbability(value());
  if (arg == "--plus") plus.push_back(value());
  if (arg == "--minus") minus.push_back(value());
  if (arg == "--region") region = parseRegion(value());
  if (arg == "--person") persons.push_back(value());
  if (arg == "--face") face = value();
}

void SearchOptions::check() const {
  if (photos && videos) throw CommandError("give --photos or --videos, not both", 2);
  if (after && before && *after >= *before)
    throw CommandError("--after must name a time before --before's", 2);
}

SearchFilter Commands::filter(const SearchOptions& options) const {
  SearchFilter filter;
  if (options.photos) filter.kinds = {MediaKind::photo};
  if (options.videos) filter.kinds = {MediaKind::video};
  if (options.folder) {
    const auto root = findRoot(*library_, *options.folder);
    if (!root) {
      throw Error("Folder not found in the library: " + *options.folder +
                  " (see 'quillmere-cli folders')");
    }
    filter.roots = std::set<std::int64_t>{root->id};
  }
  filter.takenFrom = options.after;
  filter.takenBefore = options.before;
  filter.order = options.order;
  // The probability each result shows is the one filtered by, for the demo model too.
  if (options.minProbability) filter.minProbability = *options.minProbability;
  return filter;
}

int Commands::searchAndPrint(const std::string& query, std::span<const float> vector,
                             const SearchOptions& options, std::string_view words) {
  SearchEngine engine(*library_, *embedder_);
  SearchFilter filter = this->filter(options);
  std::size_t limit = options.limit.value_or(defaultLimit);
  std::optional<PersonFilter> together;
  if (!options.persons.empty()) {
    People people = libraryPeople();
    std::vector<std::int64_t> ids;
    for (const auto& name : options.persons) ids.push_back(person(people, name).id);
    together.emplace(people, ids);
    filter = together->narrowed(std::move(filter));
    limit = together->searchLimit(*library_, limit);
  }
  auto results = engine.search(vector, words, filter, limit).results;
  if (together) {
    results = together->kept(std::move(results), engine.momentWindow / 2,
                             options.limit.value_or(defaultLimit));
  }
  if (options.exact && !results.empty()) {
    results = engine.refineAll(std::move(results), vector);
    SearchEngine::inOrder(results, filter.order);
  }
  print(query, results, options);
  return 0;
}

int Commands::search(const SearchOptions& options) {
  std::string query;
  for (const auto& word : options.operands) query += (query.empty() ? "" : " ") + word;
  filter(options);  // its mistakes are told before anything is embedded
  std::vector<float> vector;
  try {
    vector = SearchEngine(*library_, *embedder_).queryVector(query);
  } catch (const QueryTerms::Failure& failure) {
    throw Error(Words::query(failure), 2);
  }
  if (vector.empty()) {
    print(query, {}, options);
    return 0;
  }
  return searchAndPrint(query, vector, options, query);
}

int Commands::similarFace(const SearchOptions& options) {
  if (!options.operands.empty()) throw Error("similar takes a PHOTO, FILE@SECONDS or --face", 2);
  std::int64_t face = 0;
  const std::string& text = *options.face;
  const auto read = std::from_chars(text.data(), text.data() + text.size(), face);
  if (read.ec != std::errc() || read.ptr != text.data() + text.size() || face <= 0) {
    throw Error("'" + text + "' is not a face number (see 'quillmere-cli people show')", 2);
  }
  People people = libraryPeople();
  if (!library_->face(face)) throw Error("No face " + text + " in the library");
  const auto moments = people.similarTo(face, options.limit.value_or(defaultLimit));
  if (moments.empty()) std::fprintf(stderr, "No other moments found for face %s.\n", text.c_str());
  for (const auto& moment : moments) printMoment(moment, true);
  return 0;
}

int Commands::similar(const SearchOptions& options) {
  if (options.face) return similarFace(options);
  if (options.operands.size() != 1) throw Error("similar takes one PHOTO or FILE@SECONDS", 2);
  const auto& operand = options.operands.front();
  std::filesystem::path path = operand;
  std::optional<double> seconds;
  std::error_code error;
  const auto at = operand.rfind('@');
  if (!std::filesystem::exists(path, error) && at != std::string::npos) {
    seconds = parseSeconds(operand.substr(at + 1));
    if (!seconds) throw Error("'" + operand + "': the time after @ must be seconds, like 12.5", 2);
    path = operand.substr(0, at);
  }
  if (!std::filesystem::is_regular_file(path, error))
    throw Error("File not found: " + path.string());
  filter(options);  // a wrong folder is told before the file is read
  MoreLikeThis::ImageQuery like;
  try {
    like = options.region ? MoreLikeThis::region(*embedder_, path, seconds, *options.region)
                          : MoreLikeThis::file(*library_, *embedder_, path, seconds);
  } catch (const MoreLikeThis::TooSmall& failure) {
    throw Error("--region: " + Words::pictureQuery(failure), 2);
  } catch (const MoreLikeThis::Unreadable& failure) {
    throw Error(Words::pictureQuery(failure));
  }
  if (like.vector.empty()) {
    print(operand, {}, options);
    return 0;
  }
  std::vector<QueryTerms::Term> terms;
  std::vector<float> combined;
  try {
    for (const auto* texts : {&options.plus, &options.minus}) {
      const float sign = texts == &options.minus ? -1.0f : 1.0f;
      for (const std::string& text : *texts) {
        for (QueryTerms::Term term : QueryTerms::parse(SearchEngine::queryText(text))) {
          term.weight *= sign;
          terms.push_back(std::move(term));
        }
      }
    }
    combined = SearchEngine(*library_, *embedder_)
                   .queryVector(std::span<const QueryTerms::Term>(terms), like.vector);
  } catch (const QueryTerms::Failure& failure) {
    throw Error(Words::query(failure), 2);
  }
  return searchAndPrint(operand, combined, options);
}

int Commands::exportMarkers(const SearchOptions& options) {
  std::string query;
  for (const auto& word : options.operands) query += (query.empty() ? "" : " ") + word;
  const std::filesystem::path output = *options.output;
  auto extension = output.extension().string();
  for (auto& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension != ".csv" && extension != ".fcpxml") {
    throw Error("export writes FILE.fcpxml or FILE.csv, not '" + output.string() + "'", 2);
  }
  auto videoOptions = options;
  videoOptions.videos = true;
  videoOptions.photos = false;
  SearchEngine engine(*library_, *embedder_);
  std::vector<SearchResult> results;
  try {
    results = engine.search(query, filter(videoOptions), exportLimit).results;
    if (options.exact && !results.empty()) {
      results = engine.refineAll(std::move(results), engine.queryVector(query));
    }
  } catch (const QueryTerms::Failure& failure) {
    throw Error(Words::query(failure), 2);
  }
  std::vector<ExportPlan::Item> items;
  const MountTable drives;
  for (const auto& result : results) {
    const auto root = library_->root(result.file.rootID);
    const bool reachable = root && isOnline(*root, drives);
    items.push_back({result.file.kind,
                     reachable ? std::optional(location(result.file)) : std::nullopt, result.time,
                     result.score});
  }
  const ExportPlan plan(SearchEngine::queryText(query), items);
  if (plan.empty()) throw Error(Words::nothingToExport());
  const auto document = plan.document(ExportPlan::format(output));
  writeAtomically(output, document.text);
  std::printf("%s\n",
              Words::exported(document.count, printable(output.filename().string())).c_str());
  return 0;
}

}  // namespace quillmere
