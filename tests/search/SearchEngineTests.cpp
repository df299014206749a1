// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <optional>
#include <span>

#include "core/Float16.h"
#include "scan/FrameSampler.h"
#include "search/MoreLikeThis.h"
#include "search/PictureRegion.h"
#include "search/QueryTerms.h"
#include "search/SearchFixture.h"
#include "support/MediaFactory.h"

namespace quillmere {
namespace {

using test::moments;
using test::Shot;
using Moments = std::vector<std::pair<std::string, double>>;

using SearchEngineMoments = test::SearchTest;

TEST_F(SearchEngineMoments, HitsOfOneVideoCloserThanTheWindowAreOneMoment) {
  storedFile("v.mp4", MediaKind::video, {{10.0, 0.5f}, {15.0, 0.4f}, {19.0, 0.3f}});
  // Scores between 0.300 and 0.300 - 0.012: only the penalty puts it before 19.0.
  storedFile("p.jpg", MediaKind::photo, {{0.0, 0.295f}});
  const auto answer = engine->search(axis(), {}, 10);
  EXPECT_EQ(moments(answer.results), (Moments{{"v.mp4", 10.0}, {"p.jpg", 0.0}, {"v.mp4", 19.0}}));
  ASSERT_EQ(answer.results.size(), 3u);
  EXPECT_EQ(answer.results[2].score, stored(0.3f)) << "the score carries no penalty";
  EXPECT_EQ(answer.timing.embed, 0.0);
  EXPECT_GT(answer.timing.scan, 0.0);
}

TEST_F(SearchEngineMoments, HitsExactlyTheWindowApartAreTwoMoments) {
  storedFile("v.mp4", MediaKind::video, {{10.0, 0.5f}, {18.0, 0.4f}, {2.0, 0.35f}, {17.5, 0.3f}});
  EXPECT_EQ(moments(engine->search(axis(), {}, 10).results),
            (Moments{{"v.mp4", 10.0}, {"v.mp4", 18.0}, {"v.mp4", 2.0}}));
  // The window is read at every search.
  engine->momentWindow = 8.5;
  EXPECT_EQ(moments(engine->search(axis(), {}, 10).results), (Moments{{"v.mp4", 10.0}}));
}

TEST_F(SearchEngineMoments, PhotosAndDifferentFilesNeverMerge) {
  storedFile("a.mp4", MediaKind::video, {{5.0, 0.6f}});
  storedFile("b.mp4", MediaKind::video, {{5.0, 0.5f}});
  storedFile("p.jpg", MediaKind::photo, {{0.0, 0.4f}, {0.0, 0.39f}});
  const auto results = engine->search(axis(), {}, 10).results;
  EXPECT_EQ(moments(results),
            (Moments{{"a.mp4", 5.0}, {"b.mp4", 5.0}, {"p.jpg", 0.0}, {"p.jpg", 0.0}}));
  ASSERT_EQ(results.size(), 4u);
  EXPECT_NE(results[2].frameID, results[3].frameID);
}

TEST_F(SearchEngineMoments, RepeatPenaltyLetsAnotherFileOvertakeASecondMoment) {
  const MediaFile a = storedFile("a.mp4", MediaKind::video, {{0.0, 0.300f}, {20.0, 0.295f}});
  const MediaFile b = storedFile("b.mp4", MediaKind::video, {{0.0, 0.290f}});
  auto results = engine->search(axis(), {}, 10).results;
  EXPECT_EQ(moments(results), (Moments{{"a.mp4", 0.0}, {"b.mp4", 0.0}, {"a.mp4", 20.0}}));
  // 0.299 - 0.012 stays above 0.280, 0.298 - 2 x 0.012 falls below; with no penalty,
  // hit order stands.
  store(a, {{0.0, 0.300f}, {20.0, 0.299f}, {40.0, 0.298f}});
  store(b, {{0.0, 0.280f}});
  results = engine->search(axis(), {}, 10).results;
  EXPECT_EQ(moments(results),
            (Moments{{"a.mp4", 0.0}, {"a.mp4", 20.0}, {"b.mp4", 0.0}, {"a.mp4", 40.0}}));
  engine->repeatPenalty = 0;
  results = engine->search(axis(), {}, 10).results;
  EXPECT_EQ(moments(results),
            (Moments{{"a.mp4", 0.0}, {"a.mp4", 20.0}, {"a.mp4", 40.0}, {"b.mp4", 0.0}}));
}

TEST_F(SearchEngineMoments, EqualRanksKeepHitOrder) {
  // Equal ranks keep the order the index gave its hits.
  storedFile("x.jpg", MediaKind::photo, {{0.0, 0.25f}});
  storedFile("y.jpg", MediaKind::photo, {{0.0, 0.25f}});
  storedFile("z.jpg", MediaKind::photo, {{0.0, 0.25f}});
  const auto hits = library->vectors().search(axis(), 3);
  const auto results = engine->search(axis(), {}, 3).results;
  ASSERT_EQ(results.size(), hits.size());
  for (std::size_t i = 0; i < hits.size(); ++i) EXPECT_EQ(results[i].frameID, hits[i].row.frameID);
}

TEST_F(SearchEngineMoments, AsksTheIndexForFourTimesTheLimitOnly) {
  // Eight hits of one moment fill the 4 x 2 the index is asked for: the photo never
  // comes back, and there is no second round.
  std::vector<Shot> shots;
  for (int i = 0; i < 8; ++i) shots.push_back({static_cast<double>(i), 0.9f - 0.01f * i});
  storedFile("v.mp4", MediaKind::video, shots);
  storedFile("p.jpg", MediaKind::photo, {{0.0, 0.1f}});
  EXPECT_EQ(moments(engine->search(axis(), {}, 2).results), (Moments{{"v.mp4", 0.0}}));
  EXPECT_EQ(moments(engine->search(axis(), {}, 3).results),
            (Moments{{"v.mp4", 0.0}, {"p.jpg", 0.0}}));
  EXPECT_TRUE(engine->search(axis(), {}, 0).results.empty());
}

TEST_F(SearchEngineMoments, ProbabilityIsTheModelsCalibratedSigmoid) {
  storedFile("p.jpg", MediaKind::photo, {{0.0, 0.4f}});
  storedFile("q.jpg", MediaKind::photo, {{0.0, -0.2f}});
  const auto results = engine->search(axis(), {}, 5).results;
  ASSERT_EQ(results.size(), 2u);
  const float scale = embedder->info().logitScale, bias = embedder->info().logitBias;
  for (const SearchResult& result : results) {
    const double expected = 1.0 / (1.0 + std::exp(-(scale * result.score + bias)));
    EXPECT_NEAR(result.probability, expected, 1e-6) << result.file.name();
  }
  EXPECT_LT(results[1].probability, results[0].probability);
}

TEST_F(SearchEngineMoments, RefusesAQueryOfAnotherWidth) {
  EXPECT_THROW(engine->search(std::vector<float>(3, 0.5f), {}, 10), std::invalid_argument);
}

using SearchEngineFilters = test::SearchTest;

TEST_F(SearchEngineFilters, KindsKeepOnlyThoseFiles) {
  storedFile("v.mp4", MediaKind::video, {{0.0, 0.9f}, {30.0, 0.8f}});
  storedFile("p.jpg", MediaKind::photo, {{0.0, 0.2f}});
  SearchFilter photos{.kinds = {MediaKind::photo}};
  EXPECT_EQ(moments(engine->search(axis(), photos, 1).results), (Moments{{"p.jpg", 0.0}}));
  SearchFilter videos{.kinds = {MediaKind::video}};
  EXPECT_EQ(moments(engine->search(axis(), videos, 5).results),
            (Moments{{"v.mp4", 0.0}, {"v.mp4", 30.0}}));
  EXPECT_TRUE(engine->search(axis(), SearchFilter{.kinds = {}}, 5).results.empty());
}

TEST_F(SearchEngineFilters, RootsKeepOnlyThoseFolders) {
  const Root first = addFolder((dir / "first").string(),
                               {{.relPath = "a.jpg", .kind = MediaKind::photo, .size = 1}});
  const Root second = addFolder((dir / "second").string(),
                                {{.relPath = "b.jpg", .kind = MediaKind::photo, .size = 1}});
  store(fileAt(first, "a.jpg"), {{0.0, 0.9f}});
  store(fileAt(second, "b.jpg"), {{0.0, 0.5f}});
  EXPECT_EQ(moments(engine->search(axis(), {}, 5).results),
            (Moments{{"a.jpg", 0.0}, {"b.jpg", 0.0}}));
  SearchFilter onlySecond{.roots = std::set<std::int64_t>{second.id}};
  EXPECT_EQ(moments(engine->search(axis(), onlySecond, 1).results), (Moments{{"b.jpg", 0.0}}));
  SearchFilter none{.roots = std::set<std::int64_t>{}};
  EXPECT_TRUE(engine->search(axis(), none, 5).results.empty());
  // A forgotten folder's frames leave with it.
  library->removeRoot(first.id);
  EXPECT_EQ(moments(engine->search(axis(), {}, 5).results), (Moments{{"b.jpg", 0.0}}));
}

TEST_F(SearchEngineFilters, ResultsCarryTheFileAsTheLibraryHasIt) {
  const MediaFile file = storedFile("v.mp4", MediaKind::video, {{12.5, 0.7f}});
  const auto results = engine->search(axis(), {}, 1).results;
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].file, file);
  EXPECT_EQ(results[0].time, 12.5);
  EXPECT_EQ(results[0].score, stored(0.7f));
  EXPECT_EQ(results[0].frameID, library->vectors().vectors(file.id).front().first.frameID);
}

TEST_F(SearchEngineFilters, CaptureTimesBoundTheScanAndDateOrdersSortOnlyTheMomentsKept) {
  const auto taken = [&](const MediaFile& file, double seconds) {
    library->setTaken({{.file = file, .taken = {.seconds = seconds, .source = TakenSource::exif}}});
  };
  taken(storedFile("a.jpg", MediaKind::photo, {{0.0, 0.9f}}), 1.2e9);
  storedFile("b.jpg", MediaKind::photo, {{0.0, 0.5f}});  // not read yet: its mtime, 1e9
  taken(storedFile("v.mp4", MediaKind::video, {{0.0, 0.7f}, {30.0, 0.6f}}), 1.5e9);
  taken(storedFile("c.jpg", MediaKind::photo, {{0.0, 0.1f}}), 1.6e9);
  const auto search = [&](SearchFilter filter, std::size_t limit) {
    return moments(engine->search(axis(), filter, limit).results);
  };
  // From inclusive, before exclusive; the range is in the scan, so the limit counts only
  // what it admits.
  EXPECT_EQ(search({.takenFrom = 1.2e9, .takenBefore = 1.5e9}, 5), (Moments{{"a.jpg", 0.0}}));
  EXPECT_EQ(search({.takenBefore = 1.1e9}, 5), (Moments{{"b.jpg", 0.0}}));
  EXPECT_EQ(search({.takenFrom = 1.55e9}, 1), (Moments{{"c.jpg", 0.0}}));
  // The best three, then by date: c, the newest, is not among them.
  EXPECT_EQ(search({.order = SearchFilter::Order::newest}, 3),
            (Moments{{"v.mp4", 0.0}, {"v.mp4", 30.0}, {"a.jpg", 0.0}}));
  EXPECT_EQ(search({.order = SearchFilter::Order::oldest}, 4),
            (Moments{{"b.jpg", 0.0}, {"a.jpg", 0.0}, {"v.mp4", 0.0}, {"v.mp4", 30.0}}));
  const float least = embedder->probability(stored(0.65f));
  EXPECT_EQ(search({.minProbability = least}, 5), (Moments{{"a.jpg", 0.0}, {"v.mp4", 0.0}}));
}

using SearchEngineQueries = test::SearchTest;

// Frames stored with the vectors of some words, so a text query has several hits.
void storeWords(Library& library, Embedder& embedder, const std::vector<std::string>& words,
                const Root& root) {
  for (const std::string& word : words) {
    MediaFile file;
    for (const MediaFile& f : library.files(root.id)) {
      if (f.relPath == word + ".jpg") file = f;
    }
    library.saveFrames(file, {{.vector = halvesFromFloats(embedder.embed(word))}}, 0, 10, 10);
  }
}

TEST_F(SearchEngineQueries, TextIsTrimmedEmbeddedAndTimed) {
  const std::vector<std::string> words = {"red", "blue", "green", "night", "yellow"};
  std::vector<ScannedFile> entries;
  for (const auto& word : words) entries.push_back({.relPath = word + ".jpg", .size = 1});
  storeWords(*library, *embedder, words, addFolder((dir / "words").string(), entries));

  const std::string padded = "  red \n";
  ASSERT_NE(embedder->embed(padded), embedder->embed("red")) << "blanks must make a difference";
  const auto answer = engine->search(padded, {}, 5);
  const auto expected = engine->search(embedder->embed("red"), {}, 5);
  EXPECT_EQ(answer.results, expected.results);
  ASSERT_FALSE(answer.results.empty());
  EXPECT_EQ(answer.results.front().file.name(), "red.jpg");
  EXPECT_GT(answer.timing.embed, 0.0);
  EXPECT_GT(answer.timing.scan, 0.0);
  // Unicode white space (a no-break space, an ideographic space) goes too.
  EXPECT_EQ(engine->search("\u00a0red\u3000", {}, 5).results, expected.results);
}

TEST(QueryTerms, TermsAreSplitWeightedAndCombinedByTheWrittenRule) {
  using T = QueryTerms::Term;
  const std::vector<std::pair<std::string, std::vector<T>>> rows = {
      {"beach + sunset - people", {{"beach", 1}, {"sunset", 1}, {"people", -1}}},
      {"2:golden retriever", {{"golden retriever", 2}}},
      {"- rain + 0.5: sun", {{"rain", -1}, {"sun", 0.5f}}},
      {"t-shirt +red", {{"t-shirt +red", 1}}},
      {"2:30 pm + 0:x", {{"2:30 pm", 1}, {"0:x", 1}}},
      {"red +", {{"red", 1}}},
      {" + - ", {}},
  };
  for (const auto& [text, terms] : rows) EXPECT_EQ(QueryTerms::parse(text), terms) << text;
  // Weights a float cannot hold would make the query vector NaN.
  for (const auto* text : {"red + 340282366920938463463374607431768211456:blue",
                           "- 0.000000000000000000000000000000000000000001:red"})
    EXPECT_THROW(QueryTerms::parse(text), QueryTerms::Failure) << text;

  // 2 (3,4)/5 - (0,2)/2 = (1.2, 0.6), over its length sqrt(1.8).
  const std::vector<std::vector<float>> vectors{{3, 4}, {0, 2}};
  const auto combined = QueryTerms::combine(std::vector<float>{2, -1}, vectors);
  ASSERT_EQ(combined.size(), 2u);
  EXPECT_NEAR(combined[0], 1.2 / std::sqrt(1.8), 1e-6);
  EXPECT_NEAR(combined[1], 0.6 / std::sqrt(1.8), 1e-6);
  EXPECT_THROW(QueryTerms::combine(std::vector<float>{-1, -2}, vectors), QueryTerms::Failure);
  const std::vector<std::vector<float>> same{{3, 4}, {6, 8}};
  EXPECT_THROW(QueryTerms::combine(std::vector<float>{1, -1}, same), QueryTerms::Failure);
}

TEST_F(SearchEngineQueries, ATextOfSeveralTermsSearchesWithTheirCombinedVector) {
  const std::vector<std::vector<float>> terms{embedder->embed("red"), embedder->embed("blue"),
                                              embedder->embed("night")};
  EXPECT_EQ(engine->queryVector("  red + 2:blue - night "),
            QueryTerms::combine(std::vector<float>{1, 2, -1}, terms));
  EXPECT_EQ(engine->queryVector("red"), terms[0]);
  EXPECT_THROW(engine->search("- red", {}, 5), QueryTerms::Failure);
  // A picture is one more term of weight 1, so words may only take away from it.
  const std::vector<std::vector<float>> withPicture{terms[1], terms[2]};
  EXPECT_EQ(engine->queryVector(" - night", terms[1]),
            QueryTerms::combine(std::vector<float>{1, -1}, withPicture));
  EXPECT_EQ(engine->queryVector("", terms[1]), terms[1]);
}

TEST_F(SearchEngineQueries, AQueryOfOnlyWhiteSpaceFindsNothing) {
  const std::vector<std::string> words = {"red", "blue", "green"};
  std::vector<ScannedFile> entries;
  for (const auto& word : words) entries.push_back({.relPath = word + ".jpg", .size = 1});
  storeWords(*library, *embedder, words, addFolder((dir / "words").string(), entries));
  // Something is found for any query with a word in it, so an empty answer is the rule's.
  ASSERT_EQ(engine->search(" x ", {}, 20).results.size(), words.size());

  struct Case {
    std::string text;
    std::string searched;
  };
  for (const Case& c : std::vector<Case>{{"", ""},
                                         {"   ", ""},
                                         {" \t\r\n\n ", ""},
                                         {"\u00a0\u3000\u2028", ""},
                                         {"\tred car\n", "red car"},
                                         {" a  b ", "a  b"}}) {
    EXPECT_EQ(SearchEngine::queryText(c.text), c.searched) << ::testing::PrintToString(c.text);
    const auto answer = engine->search(c.text, {}, 20);
    if (c.searched.empty()) {
      EXPECT_EQ(answer, SearchEngine::Answer{}) << ::testing::PrintToString(c.text);
    } else {
      EXPECT_EQ(answer.results.size(), words.size());
    }
  }
}

TEST_F(SearchEngineQueries, AnExamplePhotoFindsItsOwnFrameFirst) {
  const std::filesystem::path folder = "/usr/share/backgrounds/mate/nature";
  const std::vector<std::string> names = {"Garden.jpg", "Aqua.jpg", "Storm.jpg"};
  std::vector<ScannedFile> entries;
  for (const auto& name : names) entries.push_back({.relPath = name, .size = 1});
  const Root root = addFolder(folder.string(), entries);
  std::vector<Picture> pictures;
  for (const auto& name : names)
    pictures.push_back(FrameSampler::photo(folder / name, 384).frames.at(0).image);
  const auto vectors = embedder->embed(pictures);
  for (std::size_t i = 0; i < names.size(); ++i)
    library->saveFrames(fileAt(root, names[i]), {{.vector = vectors[i]}}, 0, 10, 10);

  for (std::size_t i = 0; i < names.size(); ++i) {
    const auto results = engine->search(pictures[i], {}, 3);
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].file.name(), names[i]);
    EXPECT_GT(results[0].score, 0.99f);
    EXPECT_GT(results[0].score, results[1].score);
  }
  EXPECT_TRUE(engine->search(pictures[0], SearchFilter{.kinds = {MediaKind::video}}, 3).empty());
}

// One rule for a file as an image query: the stored frame when the library holds the file,
// else the file decoded at the indexer's size and embedded.
TEST_F(SearchEngineMoments, AFileQueriesWithItsStoredFrameElseWithItsDecodedPicture) {
  const MediaFile clip = storedFile("v.mp4", MediaKind::video, {{10.0, 0.5f}, {290.0, 0.4f}});
  const auto clipPath = dir / "folder1" / "v.mp4";  // stored only: not on disk
  const auto atTime = MoreLikeThis::file(*library, *embedder, clipPath, 12.0);
  EXPECT_EQ(atTime.vector, floatsFromHalves(scoring(0.5f)));
  EXPECT_EQ(atTime.name, MoreLikeThis::name(clip, 10.0));
  // Without a time, the frame nearest the middle of its 600 seconds.
  const auto middle = MoreLikeThis::file(*library, *embedder, clipPath, std::nullopt);
  EXPECT_EQ(middle.vector, floatsFromHalves(scoring(0.4f)));
  EXPECT_EQ(middle.name, MoreLikeThis::name(clip, 290.0));

  const auto photo = dir / "loose.png";
  test::savePicture(test::solidPicture(800, 600, 200, 30, 30), photo);
  const auto loose = MoreLikeThis::file(*library, *embedder, photo, std::nullopt);
  const auto sampled = FrameSampler::photo(photo, FrameSampler::embedPixels);
  ASSERT_EQ(sampled.frames.size(), 1u);
  const auto expected = embedder->embed(std::span<const Picture>(&sampled.frames.front().image, 1));
  ASSERT_EQ(expected.size(), 1u);
  EXPECT_EQ(loose.vector, floatsFromHalves(expected.front()));
  EXPECT_EQ(loose.name, "loose.png");

  test::writeRandom(dir / "noise.jpg", 4096, 7);
  EXPECT_THROW(MoreLikeThis::file(*library, *embedder, dir / "noise.jpg", std::nullopt),
               MoreLikeThis::Unreadable);
}

// A region is cut as the vips command cuts the upright photo, then embedded as a whole file
// is: the same vector within binary16 error, whatever the orientation the photo is stored in.
TEST_F(SearchEngineMoments, ARegionIsTheSameCutOfTheUprightPictureEmbeddedDirectly) {
  const std::string garden = "/usr/share/backgrounds/mate/nature/Garden.jpg";  // 2560 x 1600
  // 0.25,0.1,0.5,0.333 of 2560 x 1600: left 640, top 160, right 1920, bottom 693 (692.8 up).
  const PictureRegion region{0.25, 0.1, 0.5, 0.333};
  const std::string pixels = " 640 160 1280 533";
  for (const int orientation : {1, 3, 6, 7}) {
    const auto stored = dir / ("stored" + std::to_string(orientation) + ".jpg");
    const char* turn = orientation == 3 ? "d180" : orientation > 4 ? "d90" : "d0";
    test::runCommand("vips rot " + garden + " " + test::shellQuoted(stored) + " " + turn);
    test::runCommand("exiftool -q -overwrite_original -n -Orientation=" +
                     std::to_string(orientation) + " " + test::shellQuoted(stored));
    const auto upright = dir / "upright.png";
    const auto cut = dir / "cut.png";
    test::runCommand("vips autorot " + test::shellQuoted(stored) + " " +
                     test::shellQuoted(upright));
    test::runCommand("vips crop " + test::shellQuoted(upright) + " " + test::shellQuoted(cut) +
                     pixels);
    const auto direct = MoreLikeThis::file(*library, *embedder, cut, std::nullopt);
    const auto byRegion = MoreLikeThis::region(*embedder, stored, std::nullopt, region);
    ASSERT_EQ(byRegion.vector.size(), direct.vector.size());
    double cosine = 0;
    for (std::size_t i = 0; i < direct.vector.size(); ++i)
      cosine += double{direct.vector[i]} * byRegion.vector[i];
    EXPECT_GE(cosine, 0.999) << "orientation " << orientation << " " << cosine;
    EXPECT_EQ(byRegion.name, stored.filename().string() + " (region)");
  }
  // A video's frame at its time, as the ffmpeg command decodes it.
  const auto clip = dir / "pattern.mp4";
  test::makePatternClip(clip, 3, {.width = 640, .height = 360});
  const auto frame = dir / "frame.png";
  const auto cut = dir / "frame-cut.png";
  test::runCommand("ffmpeg -v error -ss 1 -i " + test::shellQuoted(clip) + " -frames:v 1 " +
                   test::shellQuoted(frame));
  // 0.25,0.1,0.5,0.333 of 640 x 360: left 160, top 36, right 480, bottom 156 (155.88 up).
  test::runCommand("vips crop " + test::shellQuoted(frame) + " " + test::shellQuoted(cut) +
                   " 160 36 320 120");
  const auto direct = MoreLikeThis::file(*library, *embedder, cut, std::nullopt);
  const auto byRegion = MoreLikeThis::region(*embedder, clip, 1.0, region);
  double cosine = 0;
  for (std::size_t i = 0; i < direct.vector.size(); ++i)
    cosine += double{direct.vector[i]} * byRegion.vector[i];
  EXPECT_GE(cosine, 0.999) << "video " << cosine;
  EXPECT_EQ(byRegion.name, "pattern.mp4 at 0:01 (region)");

  const auto photo = dir / "stored1.jpg";
  EXPECT_THROW(MoreLikeThis::region(*embedder, photo, std::nullopt, {0.5, 0.5, 1e-7, 0.5}),
               MoreLikeThis::TooSmall);
  EXPECT_THROW(MoreLikeThis::region(*embedder, photo, std::nullopt, {0.5, 0.5, 0.6, 0.5}),
               MoreLikeThis::Unreadable);
}

}  // namespace
}  // namespace quillmere
