// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "core/Float16.h"
#include "vectors/DotKernel.h"
#include "vectors/VectorIndex.h"

namespace quillmere {
namespace {

using Row = VectorIndex::Row;
using Hit = VectorIndex::Hit;

// A deterministic unit-ish vector for a frame, so any hit can be checked against it.
std::vector<Half> vectorFor(std::int64_t frameID, std::size_t dim) {
  std::mt19937 random(static_cast<std::uint32_t>(frameID * 2654435761u + 17));
  std::normal_distribution<float> normal(0.0f, 1.0f);
  std::vector<float> values(dim);
  for (float& value : values) value = normal(random) / std::sqrt(static_cast<float>(dim));
  return halvesFromFloats(values);
}

std::vector<float> randomQuery(std::size_t dim, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::normal_distribution<float> normal(0.0f, 1.0f);
  std::vector<float> query(dim);
  for (float& value : query) value = normal(random) / std::sqrt(static_cast<float>(dim));
  return query;
}

Row rowFor(std::int64_t frameID, std::int64_t fileID) {
  return {.frameID = frameID, .fileID = fileID, .time = 0.5 * static_cast<double>(frameID)};
}

float expectedScore(const std::vector<float>& query, std::int64_t frameID) {
  return DotKernel::reference(query, vectorFor(frameID, query.size()));
}

// Width-1 rows whose scores against the query {1} are exactly the given values.
void addScalarRows(VectorIndex& index, const std::vector<float>& scores) {
  for (std::size_t i = 0; i < scores.size(); ++i) {
    const Half value = halfFromFloat(scores[i]);
    index.add(rowFor(static_cast<std::int64_t>(i), 100 + static_cast<std::int64_t>(i)),
              std::span<const Half>(&value, 1));
  }
}

std::vector<std::int64_t> frameIDs(const std::vector<Hit>& hits) {
  std::vector<std::int64_t> ids;
  for (const Hit& hit : hits) ids.push_back(hit.row.frameID);
  return ids;
}

const std::vector<float> kOne{1.0f};

TEST(VectorIndex, EmptyIndexFindsNothing) {
  VectorIndex index(8);
  EXPECT_EQ(index.dim(), 8u);
  EXPECT_EQ(index.count(), 0u);
  EXPECT_TRUE(index.search(randomQuery(8, 1), 1).empty());
  EXPECT_TRUE(index.search(randomQuery(8, 1), 1200, [](std::int64_t) { return true; }).empty());
  EXPECT_TRUE(index.vectors(5).empty());
  index.remove(5);  // unknown file: nothing happens
  EXPECT_EQ(index.storedRows(), 0u);
  index.reserve(10000);
  EXPECT_EQ(index.count(), 0u);
  EXPECT_TRUE(index.search(randomQuery(8, 1), 3).empty());
}

TEST(VectorIndex, EqualBestScoresKeepTheEarlierRow) {
  VectorIndex index(1);
  addScalarRows(index, {0.9f, 0.5f, 0.9f});
  const std::vector<Hit> hits = index.search(kOne, 1);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].row, rowFor(0, 100));
  EXPECT_EQ(hits[0].score, floatFromHalf(halfFromFloat(0.9f)));
}

TEST(VectorIndex, TiesFollowTheHeapOrder) {
  {
    // The 0.25 rises to the root when pushed, moving row 0 behind row 1 in the heap's
    // array; the stable sort keeps that array order among equal scores.
    VectorIndex index(1);
    addScalarRows(index, {0.5f, 0.5f, 0.25f, 0.5f});
    EXPECT_EQ(frameIDs(index.search(kOne, 4)), (std::vector<std::int64_t>{1, 0, 3, 2}));
    EXPECT_EQ(frameIDs(index.search(kOne, 10)), (std::vector<std::int64_t>{1, 0, 3, 2}));
  }
  {
    // A greater score evicts the root; the equal pair moved down survives. The lower
    // scores between them, a whole run that cannot enter, must not hide the row after them.
    VectorIndex index(1);
    std::vector<float> scores(32, 0.25f);
    scores[0] = scores[1] = 0.5f;
    scores.push_back(0.75f);
    addScalarRows(index, scores);
    EXPECT_EQ(frameIDs(index.search(kOne, 2)), (std::vector<std::int64_t>{32, 1}));
  }
  {
    // A score equal to a full heap's minimum never enters.
    VectorIndex index(1);
    addScalarRows(index, {0.5f, 0.5f, 0.5f, 0.5f});
    EXPECT_EQ(frameIDs(index.search(kOne, 2)), (std::vector<std::int64_t>{0, 1}));
    EXPECT_EQ(frameIDs(index.search(kOne, 4)), (std::vector<std::int64_t>{0, 1, 2, 3}));
  }
}

TEST(VectorIndex, NaNAndNegativeInfinityAreNeverReturned) {
  VectorIndex index(1);
  const std::vector<Half> values{0x7e00, halfFromFloat(0.25f), 0xfc00, 0x7c00,
                                 0xfe01, halfFromFloat(-3.0f)};
  for (std::size_t i = 0; i < values.size(); ++i) {
    index.add(rowFor(static_cast<std::int64_t>(i), 1), std::span<const Half>(&values[i], 1));
  }
  const std::vector<Hit> hits = index.search(kOne, 10);
  EXPECT_EQ(frameIDs(hits), (std::vector<std::int64_t>{3, 1, 5}));
  EXPECT_EQ(hits[0].score, INFINITY);
  for (const Hit& hit : hits) EXPECT_FALSE(std::isnan(hit.score));
  // A query that turns every score into NaN finds nothing.
  EXPECT_TRUE(index.search(std::vector<float>{NAN}, 10).empty());
}

TEST(VectorIndex, RemovedRowsStayStoredButAreNeverFound) {
  const std::size_t dim = 24;
  VectorIndex index(dim);
  std::int64_t frame = 0;
  for (std::int64_t file = 1; file <= 5; ++file) {
    for (int i = 0; i < 7; ++i, ++frame) index.add(rowFor(frame, file), vectorFor(frame, dim));
  }
  EXPECT_EQ(index.count(), 35u);
  index.remove(3);
  EXPECT_EQ(index.count(), 28u);
  EXPECT_EQ(index.storedRows(), 35u);
  EXPECT_EQ(index.deadRows(), 7u);
  EXPECT_TRUE(index.vectors(3).empty());
  index.remove(3);  // already gone
  EXPECT_EQ(index.deadRows(), 7u);

  const std::vector<float> query = randomQuery(dim, 9);
  const std::vector<Hit> hits = index.search(query, 100);
  EXPECT_EQ(hits.size(), 28u);
  for (const Hit& hit : hits) {
    EXPECT_NE(hit.row.fileID, 3);
    EXPECT_EQ(hit.score, expectedScore(query, hit.row.frameID));
  }
  EXPECT_TRUE(std::is_sorted(hits.begin(), hits.end(),
                             [](const Hit& a, const Hit& b) { return a.score > b.score; }));

  // A file indexed again after removal gets fresh rows.
  index.add(rowFor(900, 3), vectorFor(900, dim));
  ASSERT_EQ(index.vectors(3).size(), 1u);
  EXPECT_EQ(index.vectors(3)[0].first, rowFor(900, 3));
  EXPECT_EQ(index.count(), 29u);

  index.removeAll();
  EXPECT_EQ(index.count(), 0u);
  EXPECT_EQ(index.storedRows(), 0u);
  EXPECT_EQ(index.deadRows(), 0u);
  EXPECT_TRUE(index.vectors(1).empty());
  EXPECT_TRUE(index.search(query, 5).empty());
}

// One row per file, files 0..rows-1; then the first `removed` files retired one by one.
void fillOneRowPerFile(VectorIndex& index, std::size_t rows) {
  index.reserve(rows);
  for (std::size_t r = 0; r < rows; ++r) {
    const auto id = static_cast<std::int64_t>(r);
    index.add(rowFor(id, id), vectorFor(id, index.dim()));
  }
}

TEST(VectorIndex, CompactsWhenMoreThanAQuarterAndOver4096AreDead) {
  const std::size_t dim = 4;
  {
    VectorIndex index(dim);
    fillOneRowPerFile(index, 16000);
    for (std::int64_t file = 0; file < 4096; ++file) index.remove(file);
    EXPECT_EQ(index.storedRows(), 16000u);
    EXPECT_EQ(index.deadRows(), 4096u);
    index.remove(4096);  // the 4097th dead row: 16000 < 4 x 4097
    EXPECT_EQ(index.storedRows(), 16000u - 4097u);
    EXPECT_EQ(index.deadRows(), 0u);
    EXPECT_EQ(index.count(), 16000u - 4097u);
  }
  {
    VectorIndex index(dim);
    fillOneRowPerFile(index, 20000);
    for (std::int64_t file = 0; file <= 4096; ++file) index.remove(file);
    EXPECT_EQ(index.storedRows(), 20000u);
    EXPECT_EQ(index.deadRows(), 4097u);
    for (std::int64_t file = 4097; file < 5000; ++file) index.remove(file);
    EXPECT_EQ(index.deadRows(), 5000u);  // 20000 is not below 4 x 5000
    index.remove(5000);
    EXPECT_EQ(index.storedRows(), 20000u - 5001u);
    EXPECT_EQ(index.deadRows(), 0u);
  }
}

TEST(VectorIndex, CompactionKeepsSurvivorsRowsVectorsAndOrder) {
  const std::size_t dim = 17;
  VectorIndex index(dim);
  // Files of 5 rows whose rows interleave with other files' rows.
  std::int64_t frame = 0;
  for (int round = 0; round < 5; ++round) {
    for (std::int64_t file = 0; file < 1500; ++file, ++frame) {
      index.add(rowFor(frame, file), vectorFor(frame, dim));
    }
  }
  std::map<std::int64_t, std::vector<std::pair<Row, std::vector<Half>>>> before;
  for (std::int64_t file = 0; file < 1500; ++file) {
    if (file % 3 != 0) before[file] = index.vectors(file);
  }
  ASSERT_EQ(before[1].size(), 5u);
  EXPECT_EQ(before[1][2].first, rowFor(3001, 1));
  EXPECT_EQ(before[1][2].second, vectorFor(3001, dim));

  for (std::int64_t file = 0; file < 1500; file += 3) index.remove(file);  // 2500 rows
  EXPECT_EQ(index.deadRows(), 2500u);
  for (std::int64_t file = 1; file < 1500; file += 3) {
    index.remove(file);
    before.erase(file);
  }
  // Compacted once, at 4100 of 7500 rows dead; 180 files of 5 rows retired since.
  EXPECT_EQ(index.storedRows(), 3400u);
  EXPECT_EQ(index.deadRows(), 900u);
  EXPECT_EQ(index.count(), 2500u);

  for (const auto& [file, rows] : before) {
    ASSERT_EQ(index.vectors(file), rows) << file;
    std::vector<Row> plain;
    for (const auto& [row, vector] : rows) plain.push_back(row);
    ASSERT_EQ(index.rows(file), plain) << file;
  }
  const std::vector<float> query = randomQuery(dim, 4);
  const std::vector<Hit> hits = index.search(query, 5000);
  ASSERT_EQ(hits.size(), 2500u);
  for (const Hit& hit : hits) {
    EXPECT_EQ(hit.row.fileID % 3, 2);
    EXPECT_EQ(hit.row, rowFor(hit.row.frameID, hit.row.fileID));
    EXPECT_EQ(hit.score, expectedScore(query, hit.row.frameID));
  }

  // A filter's answers still go to the right files after compaction renumbered them, and
  // to a file added back after its removal.
  index.add(rowFor(frame, 0), vectorFor(frame, dim));
  const auto include = [](std::int64_t file) { return file % 4 < 2; };
  std::vector<Hit> expected;
  for (const Hit& hit : index.search(query, 5000)) {
    if (include(hit.row.fileID)) expected.push_back(hit);
  }
  ASSERT_EQ(expected.size(), 1251u);
  EXPECT_EQ(index.search(query, 5000, include), expected);
}

TEST(VectorIndex, IncludeIsAskedOncePerFileAndExcludesAllItsRows) {
  const std::size_t dim = 16;
  VectorIndex index(dim);
  std::int64_t frame = 0;
  for (int round = 0; round < 40; ++round) {
    for (std::int64_t file = 1; file <= 6; ++file, ++frame) {
      index.add(rowFor(frame, file), vectorFor(frame, dim));
    }
  }
  const std::vector<float> query = randomQuery(dim, 11);
  std::map<std::int64_t, int> asked;
  const auto include = [&](std::int64_t file) {
    ++asked[file];
    return file % 2 == 1;
  };
  const std::vector<Hit> hits = index.search(query, 1000, include);
  EXPECT_EQ(hits.size(), 120u);  // every row of files 1, 3, 5
  for (const Hit& hit : hits) EXPECT_EQ(hit.row.fileID % 2, 1);
  EXPECT_EQ(asked.size(), 6u);
  for (const auto& [file, times] : asked) EXPECT_EQ(times, 1) << file;

  asked.clear();
  const std::vector<Hit> few = index.search(query, 3, include);
  ASSERT_EQ(few.size(), 3u);
  for (const auto& [file, times] : asked) EXPECT_EQ(times, 1) << file;
  EXPECT_EQ(few[0], hits[0]);
  EXPECT_EQ(few[2], hits[2]);
  EXPECT_TRUE(index.search(query, 10, [](std::int64_t) { return false; }).empty());
}

TEST(VectorIndex, LargeLimitReturnsEveryLiveRowSorted) {
  const std::size_t dim = 33;
  VectorIndex index(dim);
  for (std::int64_t frame = 0; frame < 50; ++frame) {
    index.add(rowFor(frame, frame / 10), vectorFor(frame, dim));
  }
  index.remove(2);
  const std::vector<float> query = randomQuery(dim, 5);
  const std::vector<Hit> hits = index.search(query, 1200);
  ASSERT_EQ(hits.size(), 40u);
  std::set<std::int64_t> seen;
  for (std::size_t i = 0; i < hits.size(); ++i) {
    seen.insert(hits[i].row.frameID);
    EXPECT_EQ(hits[i].score, expectedScore(query, hits[i].row.frameID));
    if (i > 0) {
      EXPECT_GE(hits[i - 1].score, hits[i].score);
    }
  }
  EXPECT_EQ(seen.size(), 40u);
  EXPECT_FALSE(seen.contains(25));
}

TEST(VectorIndex, ManyBlocksGiveTheExactTopScores) {
  // Several blocks of 2048 rows scored in parallel, with a partial last block.
  const std::size_t dim = 40;
  const std::size_t rows = 2048 * 3 + 301;
  VectorIndex index(dim);
  fillOneRowPerFile(index, rows);
  const std::vector<float> query = randomQuery(dim, 8);
  std::vector<float> all;
  for (std::size_t r = 0; r < rows; ++r) {
    all.push_back(expectedScore(query, static_cast<std::int64_t>(r)));
  }
  std::sort(all.begin(), all.end(), std::greater<>());
  for (const std::size_t limit : {1u, 7u, 300u, 5000u}) {
    const std::vector<Hit> hits = index.search(query, limit);
    ASSERT_EQ(hits.size(), limit);
    for (std::size_t i = 0; i < limit; ++i) {
      ASSERT_EQ(hits[i].score, all[i]) << "limit " << limit << " place " << i;
      ASSERT_EQ(hits[i].score, expectedScore(query, hits[i].row.frameID));
    }
  }

  // Every file admitted, files left out from among the best, and so many left out that the
  // scan's spare candidates cannot hold the answer, over the same blocks.
  const std::vector<Hit> everyRow = index.search(query, rows);
  const std::set<std::int64_t> twoBest{everyRow[0].row.fileID, everyRow[4].row.fileID};
  const std::vector<std::pair<const char*, std::function<bool(std::int64_t)>>> filters = {
      {"every file admitted", [](std::int64_t) { return true; }},
      {"two files left out", [&](std::int64_t file) { return !twoBest.contains(file); }},
      {"two of three left out", [](std::int64_t file) { return file % 3 == 0; }}};
  for (const auto& [name, include] : filters) {
    const std::vector<Hit> hits = index.search(query, 300, include);
    std::vector<Hit> expected;
    for (const Hit& hit : everyRow) {
      if (include(hit.row.fileID) && expected.size() < 300) expected.push_back(hit);
    }
    EXPECT_EQ(hits, expected) << name;
  }
}

TEST(VectorIndexDeathTest, BrokenCallerContractsStopTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  VectorIndex index(4);
  const std::vector<Half> three(3, 0);
  EXPECT_DEATH(index.add(rowFor(1, 1), three), "wrong length");
  index.add(rowFor(1, 1), std::vector<Half>(4, 0x3c00));
  EXPECT_DEATH(index.search(std::vector<float>(5, 1.0f), 3), "wrong length");
  EXPECT_DEATH(index.search(std::vector<float>(4, 1.0f), 0), "limit");
  EXPECT_EQ(index.count(), 1u);
}

TEST(VectorIndex, ConcurrentChangesAndSearchesStayConsistent) {
  const std::size_t dim = 32;
  const int rowsPerFile = 8;
  const int filesPerWriter = 900;
  VectorIndex index(dim);

  std::mutex removedLock;
  std::set<std::int64_t> removed;  // files whose remove() has returned
  std::atomic<int> writersDone = 0;
  std::atomic<bool> failed = false;
  std::atomic<std::size_t> searches = 0;

  const auto writer = [&](std::int64_t firstFile) {
    for (std::int64_t file = firstFile; file < firstFile + filesPerWriter; ++file) {
      for (int i = 0; i < rowsPerFile; ++i) {
        const std::int64_t frame = file * rowsPerFile + i;
        index.add(rowFor(frame, file), vectorFor(frame, dim));
      }
      // Retire two of every three files a little later, forcing compactions.
      const std::int64_t old = file - 5;
      if (old >= firstFile && old % 3 != 0) {
        index.remove(old);
        std::lock_guard guard(removedLock);
        removed.insert(old);
      }
    }
    ++writersDone;
  };
  const auto searcher = [&](std::uint32_t seed) {
    const std::vector<float> query = randomQuery(dim, seed);
    while (writersDone < 2 && !failed) {
      std::set<std::int64_t> gone;
      {
        std::lock_guard guard(removedLock);
        gone = removed;
      }
      std::set<std::int64_t> asked;
      const std::vector<Hit> hits = index.search(query, 50, [&](std::int64_t file) {
        if (!asked.insert(file).second) failed = true;  // asked twice
        return true;
      });
      for (const Hit& hit : hits) {
        const bool consistent = hit.row.fileID == hit.row.frameID / rowsPerFile &&
                                hit.row == rowFor(hit.row.frameID, hit.row.fileID) &&
                                hit.score == expectedScore(query, hit.row.frameID) &&
                                !gone.contains(hit.row.fileID);
        if (!consistent) failed = true;
      }
      ++searches;
    }
  };

  std::vector<std::thread> threads;
  threads.emplace_back(writer, 0);
  threads.emplace_back(writer, 100000);
  threads.emplace_back(searcher, 1);
  threads.emplace_back(searcher, 2);
  for (std::thread& thread : threads) thread.join();

  EXPECT_FALSE(failed);
  EXPECT_GT(searches.load(), 0u);
  const std::size_t expectedLive =
      (2 * filesPerWriter - removed.size()) * static_cast<std::size_t>(rowsPerFile);
  EXPECT_EQ(index.count(), expectedLive);
  EXPECT_EQ(index.storedRows() - index.deadRows(), expectedLive);
  EXPECT_LT(index.storedRows(), 2u * filesPerWriter * rowsPerFile) << "never compacted";
  for (const std::int64_t first : {0, 100000}) {
    for (std::int64_t file = first; file < first + filesPerWriter; ++file) {
      const auto rows = index.vectors(file);
      if (removed.contains(file)) {
        ASSERT_TRUE(rows.empty()) << file;
        continue;
      }
      ASSERT_EQ(rows.size(), static_cast<std::size_t>(rowsPerFile)) << file;
      for (int i = 0; i < rowsPerFile; ++i) {
        const std::int64_t frame = file * rowsPerFile + i;
        ASSERT_EQ(rows[i].first, rowFor(frame, file));
        ASSERT_EQ(rows[i].second, vectorFor(frame, dim));
      }
    }
  }
}

}  // namespace
}  // namespace quillmere
