// SPDX-License-Identifier: GPL-3.0-or-later
// Searches and library readers running beside a whole indexing run: what they see must be
// a consistent, growing library at every moment. Also run under ThreadSanitizer.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "IndexerFixture.h"
#include "scan/FrameSampler.h"
#include "scan/Scanner.h"
#include "search/SearchEngine.h"

namespace quillmere::test {
namespace {

// What one searching thread saw that it should not have.
struct Sightings {
  std::mutex lock;
  std::vector<std::string> faults;
  void add(std::string fault) {
    std::lock_guard guard(lock);
    if (faults.size() < 20) faults.push_back(std::move(fault));
  }
};

void checkResults(const std::vector<SearchResult>& results, std::size_t limit,
                  const std::set<std::int64_t>& knownFiles, Sightings& sightings) {
  if (results.size() > limit) sightings.add("more results than the limit");
  std::set<std::int64_t> frames;
  for (const SearchResult& result : results) {
    if (!knownFiles.count(result.file.id)) {
      sightings.add("result of unknown file " + std::to_string(result.file.id));
    }
    if (result.file.state != FileState::indexed) sightings.add("result of a file not indexed");
    if (!frames.insert(result.frameID).second) sightings.add("frame listed twice");
    if (!(result.probability >= 0 && result.probability <= 1)) sightings.add("probability");
    if (!(result.score >= -1.01f && result.score <= 1.01f)) sightings.add("score");
  }
}

TEST_F(IndexerConcurrency, SearchesAndReadersBesideARunSeeAGrowingConsistentLibrary) {
  const auto folder = makeFolder("Pictures");
  const auto photos = addPhotos(folder, 24);
  addVideo(folder, "clip one.mp4");
  addVideo(folder, "clip two.mp4");
  const Root root = addRoot(folder);
  // Scanned up front: the ids this gives are the only ones a result may name, and the
  // run's own scan finds nothing new.
  library->applyScan(root.id, Scanner::scan(folder, [] { return false; }).files);
  std::set<std::int64_t> knownFiles;
  for (const MediaFile& file : library->files(root.id)) knownFiles.insert(file.id);
  ASSERT_EQ(knownFiles.size(), 26u);
  auto indexer = makeIndexer();

  SearchEngine engine(*library, *embedder);
  const Picture example =
      FrameSampler::photo(photos.front(), Indexer::embedPixels).frames.front().image;
  const std::size_t limit = 200;
  std::atomic<bool> done = false;
  Sightings sightings;
  std::atomic<int> textSearches = 0, imageSearches = 0, reads = 0;

  // Photos only: once a photo is stored it stays, so their count never falls.
  std::thread texts([&] {
    SearchFilter photosOnly;
    photosOnly.kinds = {MediaKind::photo};
    std::size_t seen = 0;
    while (!done) {
      const auto answer = engine.search("green forest", photosOnly, limit);
      checkResults(answer.results, limit, knownFiles, sightings);
      if (answer.results.size() < seen) sightings.add("fewer photos than before");
      seen = std::max(seen, answer.results.size());
      ++textSearches;
    }
  });
  std::thread images([&] {
    while (!done) {
      checkResults(engine.search(example, SearchFilter{}, limit), limit, knownFiles, sightings);
      ++imageSearches;
    }
  });
  std::thread readers([&] {
    while (!done) {
      const Library::Totals totals = library->totals();
      if (totals.indexed + totals.pending + totals.failed != 26) sightings.add("totals");
      for (const MediaFile& file : library->files(root.id)) {
        for (const auto& [row, vector] : library->vectors().vectors(file.id)) {
          if (!library->thumbnail(row.frameID)) sightings.add("frame without thumbnail");
        }
      }
      ++reads;
    }
  });

  indexer->run();
  indexer->waitUntilIdle();
  // A last round of each after the run, so every thread also sees the finished library.
  const int lastText = textSearches, lastImage = imageSearches, lastRead = reads;
  EXPECT_TRUE(eventually([&] {
    return textSearches > lastText + 1 && imageSearches > lastImage + 1 && reads > lastRead + 1;
  }));
  done = true;
  texts.join();
  images.join();
  readers.join();

  for (const auto& fault : sightings.faults) ADD_FAILURE() << fault;
  EXPECT_EQ(library->totals().indexed, 26);

  SearchFilter photosOnly;
  photosOnly.kinds = {MediaKind::photo};
  EXPECT_EQ(engine.search("green forest", photosOnly, limit).results.size(), 24u);
  const auto found = engine.search(example, SearchFilter{}, 3);
  ASSERT_EQ(found.size(), 3u);
  // photo00, photo08 and photo16 are copies of one picture.
  for (const SearchResult& result : found) {
    EXPECT_EQ(std::stoi(result.file.relPath.substr(5, 2)) % 8, 0) << result.file.relPath;
    EXPECT_GT(result.score, 0.98f);
  }
}

}  // namespace
}  // namespace quillmere::test
