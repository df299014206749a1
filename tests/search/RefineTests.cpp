// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <span>
#include <string>
#include <utility>

#include "core/Float16.h"
#include "scan/FrameSampler.h"
#include "search/SearchFixture.h"
#include "support/MediaFactory.h"

namespace quillmere {
namespace {

float dot(const std::vector<float>& a, const std::vector<Half>& b) {
  float sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) sum += a[i] * floatFromHalf(b[i]);
  return sum;
}

struct Colour {
  std::uint8_t r, g, b;
  const char* hex;
};
const Colour red{220, 30, 30, "0xDC1E1E"};
const Colour yellow{230, 220, 40, "0xE6DC28"};
const Colour green{40, 200, 60, "0x28C83C"};
const Colour blue{40, 60, 220, "0x283CDC"};
const Colour cyan{40, 220, 220, "0x28DCDC"};
const Colour grey{100, 100, 100, "0x646464"};

// The clip's grey picture with a box of the colour in its top-left corner, a sixteenth of
// it: a change the model sees but the frame sampler takes for the same scene, whichever two
// of these pictures are compared.
Picture boxPicture(const Colour& colour) {
  Picture picture = test::solidPicture(160, 90, grey.r, grey.g, grey.b);
  for (int y = 0; y < 22; ++y) {
    for (int x = 0; x < 40; ++x) {
      auto* pixel = picture.rgb.data() + (static_cast<std::size_t>(y) * 160 + x) * 3;
      pixel[0] = colour.r, pixel[1] = colour.g, pixel[2] = colour.b;
    }
  }
  return picture;
}

class Refine : public test::SearchTest {
 protected:
  static void SetUpTestSuite() {
    test::SearchTest::SetUpTestSuite();
    clips = new test::TempDirectory;
    // Ten frames a second, grey except for single frames with a box of colour at 0.0 (red),
    // 1.3 (yellow), 2.4 (green) and 2.8 (cyan), and blue at 2.6 and 2.7. Frames are counted,
    // not timed, so every colour sits on its frame exactly.
    std::string boxes;
    for (const auto& [colour, frames] :
         std::vector<std::pair<const Colour*, std::string>>{{&red, "eq(n,0)"},
                                                            {&yellow, "eq(n,13)"},
                                                            {&green, "eq(n,24)"},
                                                            {&blue, "between(n,26,27)"},
                                                            {&cyan, "eq(n,28)"}}) {
      boxes += "drawbox=x=0:y=0:w=40:h=22:t=fill:c=" + std::string(colour->hex) + ":enable='" +
               frames + "',";
    }
    test::runCommand("ffmpeg -nostdin -y -v error -f lavfi -i color=c=" + std::string(grey.hex) +
                     ":s=160x90:r=10:d=5 -vf \"" + boxes +
                     "format=yuv420p\" -c:v libx264 -preset veryfast -sc_threshold 0 -g 20 " +
                     test::shellQuoted(clip()));
  }
  static void TearDownTestSuite() {
    delete clips;
    clips = nullptr;
    test::SearchTest::TearDownTestSuite();
  }
  static std::filesystem::path clip() { return *clips / "colours.mp4"; }

  // The image vector of the grey picture with the colour's box, as a query.
  static std::vector<float> query(const Colour& colour) {
    return floatsFromHalves(imageVector(colour));
  }
  static std::vector<Half> imageVector(const Colour& colour) {
    return embedder->embed(std::vector{boxPicture(colour)}).at(0);
  }
  // A score the colour's own frame beats and every other frame of the clip does not.
  static float between(const Colour& colour) {
    const auto q = query(colour);
    const float own = dot(q, imageVector(colour));
    const Picture plain = test::solidPicture(160, 90, grey.r, grey.g, grey.b);
    float others = dot(q, embedder->embed(std::vector{plain}).at(0));
    for (const Colour* other : {&red, &yellow, &green, &blue, &cyan}) {
      if (other->hex != colour.hex) others = std::max(others, dot(q, imageVector(*other)));
    }
    EXPECT_GT(own - others, 0.02f) << "the model must tell " << colour.hex << " apart";
    return 0.5f * (own + others);
  }

  SearchResult videoResult(double time, float score) {
    SearchResult result;
    result.frameID = 7;
    result.file.kind = MediaKind::video;
    result.time = time;
    result.score = score;
    return result;
  }

  static test::TempDirectory* clips;
};

test::TempDirectory* Refine::clips = nullptr;

TEST_F(Refine, SamplesEveryFifthOfASecondWithinOneAndAHalfSeconds) {
  // Around 1.0: 0.0, 0.2, ..., 2.4 (thirteen frames); the start is held at 0.
  auto refined = engine->refine(videoResult(1.0, -1), query(red), clip());
  EXPECT_NEAR(refined.time, 0.0, 1e-9);
  EXPECT_GT(refined.score, 0.9f);
  refined = engine->refine(videoResult(1.0, -1), query(green), clip());
  EXPECT_NEAR(refined.time, 2.4, 1e-9);
  EXPECT_GT(refined.score, 0.9f);
  // 1.3 lies between two steps and 2.6 past the end: neither is looked at.
  for (const Colour* missed : {&yellow, &blue}) {
    const float score = between(*missed);
    EXPECT_EQ(engine->refine(videoResult(1.0, score), query(*missed), clip()),
              (SearchEngine::Refinement{1.0, score}))
        << missed->hex;
  }
  // Around 2.0 the steps run 0.5, 0.7, ..., 3.5: they meet yellow at 1.3 and blue at 2.7,
  // and red at 0.0 is out of reach.
  refined = engine->refine(videoResult(2.0, between(yellow)), query(yellow), clip());
  EXPECT_NEAR(refined.time, 1.3, 1e-9);
  refined = engine->refine(videoResult(2.0, between(blue)), query(blue), clip());
  EXPECT_NEAR(refined.time, 2.7, 1e-9);
  EXPECT_EQ(engine->refine(videoResult(2.0, between(red)), query(red), clip()).time, 2.0);
  // The last step lands on t + 1.5 itself even where adding 0.2 over and over would
  // overshoot it by a rounding error (1.3 + 1.5).
  refined = engine->refine(videoResult(1.3, between(cyan)), query(cyan), clip());
  EXPECT_NEAR(refined.time, 2.8, 1e-9);
  EXPECT_EQ(engine->refine(videoResult(1.2, between(cyan)), query(cyan), clip()).time, 1.2);
}

TEST_F(Refine, KeepsTheResultUnlessAFrameScoresStrictlyHigher) {
  const auto best = engine->refine(videoResult(1.0, -1), query(red), clip());
  ASSERT_NEAR(best.time, 0.0, 1e-9);
  EXPECT_EQ(engine->refine(videoResult(1.0, best.score), query(red), clip()),
            (SearchEngine::Refinement{1.0, best.score}));
  const float below = std::nextafter(best.score, -2.0f);
  EXPECT_EQ(engine->refine(videoResult(1.0, below), query(red), clip()), best);
}

TEST_F(Refine, NeverFails) {
  const auto q = query(red);
  SearchResult photo = videoResult(1.0, 0.25f);
  photo.file.kind = MediaKind::photo;
  EXPECT_EQ(engine->refine(photo, q, clip()), (SearchEngine::Refinement{1.0, 0.25f}));
  // Not a video at all, a missing file, a time before any sample, a time past the end.
  test::writeRandom(*clips / "noise.mp4", 4096, 5);
  EXPECT_EQ(engine->refine(videoResult(1.0, 0.25f), q, *clips / "noise.mp4"),
            (SearchEngine::Refinement{1.0, 0.25f}));
  EXPECT_EQ(engine->refine(videoResult(1.0, 0.25f), q, *clips / "missing.mp4"),
            (SearchEngine::Refinement{1.0, 0.25f}));
  EXPECT_EQ(engine->refine(videoResult(-2.0, -1), q, clip()), (SearchEngine::Refinement{-2.0, -1}));
  EXPECT_EQ(engine->refine(videoResult(60.0, -1), q, clip()), (SearchEngine::Refinement{60.0, -1}));
  // A query of another width scores over the components both have.
  const std::vector<float> shorter(q.begin(), q.begin() + 8);
  const auto refined = engine->refine(videoResult(1.0, -1), shorter, clip());
  EXPECT_GT(refined.score, -1.0f);
}

// Moments that refinement brings within the moment window of each other are one moment, the
// better kept; the list follows the refined scores.
TEST_F(Refine, AllMergesMomentsThatMeetAndOrdersByTheRefinedScores) {
  const Colour navy{30, 40, 150, "0x1E2896"};
  // Grey for 30 s with a blue box at 11.5 s and a navy one at 16.5 s.
  const auto meet = *clips / "meet.mp4";
  test::runCommand("ffmpeg -nostdin -y -v error -f lavfi -i color=c=" + std::string(grey.hex) +
                   ":s=160x90:r=10:d=30 -vf \"drawbox=x=0:y=0:w=40:h=22:t=fill:c=" + blue.hex +
                   ":enable='eq(n,115)',drawbox=x=0:y=0:w=40:h=22:t=fill:c=" + navy.hex +
                   ":enable='eq(n,165)',format=yuv420p\" -c:v libx264 -preset veryfast -g 20 " +
                   test::shellQuoted(meet));
  const Root root = addFolder(clips->path().string(),
                              {{.relPath = "meet.mp4", .kind = MediaKind::video, .size = 1}});
  const MediaFile file = fileAt(root, "meet.mp4");
  const auto q = query(blue);
  const float blueScore = dot(q, imageVector(blue));
  const float navyScore = dot(q, imageVector(navy));
  const Picture plain = test::solidPicture(160, 90, grey.r, grey.g, grey.b);
  const float greyScore = dot(q, embedder->embed(std::vector{plain}).at(0));
  ASSERT_GT(blueScore - navyScore, 0.02f);
  ASSERT_GT(navyScore - greyScore, 0.02f);

  auto result = [&](std::int64_t frameID, double time, float score) {
    SearchResult r = videoResult(time, score);
    r.frameID = frameID;
    r.file = file;
    r.probability = embedder->probability(score);
    return r;
  };
  // As search lists them: grey frames, the best of them out of reach of both boxes.
  const float steady = 0.5f * (navyScore + blueScore);
  const std::vector<SearchResult> found = {result(3, 26.0, steady), result(2, 18.0, -0.5f),
                                           result(1, 10.0, -1.0f)};
  const auto refined = engine->refineAll(found, q);
  ASSERT_EQ(refined.size(), 2u) << "18.0 moved to 16.5 and 10.0 to 11.5: one moment";
  EXPECT_EQ(refined[0].frameID, 1);
  EXPECT_NEAR(refined[0].time, 11.5, 1e-9);
  EXPECT_GT(refined[0].score, steady);
  EXPECT_EQ(refined[0].probability, embedder->probability(refined[0].score));
  EXPECT_EQ(refined[1], found[0]);
}

// A slideshow of wallpapers, 8 s each, indexed as the indexer does it.
class RefineSlideshow : public test::SearchTest {
 protected:
  static constexpr double shotSeconds = 8;

  static void SetUpTestSuite() {
    test::SearchTest::SetUpTestSuite();
    folder = new test::TempDirectory;
    const std::filesystem::path wallpapers = "/usr/share/backgrounds/mate/nature";
    std::string inputs, scaled, joined;
    const std::vector<std::string> slides = {"Aqua", "Storm", "Dune", "Garden", "Wood"};
    for (std::size_t i = 0; i < slides.size(); ++i) {
      const std::string n = std::to_string(i);
      inputs +=
          " -loop 1 -framerate 10 -t 8 -i " + test::shellQuoted(wallpapers / (slides[i] + ".jpg"));
      scaled += "[" + n + ":v]scale=320:180,setsar=1[v" + n + "];";
      joined += "[v" + n + "]";
    }
    test::runCommand("ffmpeg -nostdin -y -v error" + inputs + " -filter_complex \"" + scaled +
                     joined + "concat=n=" + std::to_string(slides.size()) +
                     ":v=1:a=0,format=yuv420p\" -r 10 -c:v libx264 -preset veryfast -g 20 " +
                     test::shellQuoted(clip()));
  }
  static void TearDownTestSuite() {
    delete folder;
    folder = nullptr;
    test::SearchTest::TearDownTestSuite();
  }
  static std::filesystem::path clip() { return *folder / "slideshow.mp4"; }
  static int shot(double time) { return static_cast<int>(std::floor(time / shotSeconds + 1e-6)); }

  void index() {
    const Root root =
        addFolder(folder->path().string(),
                  {{.relPath = "slideshow.mp4", .kind = MediaKind::video, .size = 1}});
    const auto sampled = FrameSampler::video(clip());
    std::vector<Picture> pictures;
    for (const auto& frame : sampled.frames) pictures.push_back(frame.image);
    const auto vectors = embedder->embed(pictures);
    std::vector<FrameRecord> records;
    for (std::size_t i = 0; i < vectors.size(); ++i)
      records.push_back({.time = sampled.frames[i].time, .vector = vectors[i]});
    library->saveFrames(fileAt(root, "slideshow.mp4"), records, sampled.duration,
                        static_cast<int>(sampled.width), static_cast<int>(sampled.height));
  }

  static test::TempDirectory* folder;
};

test::TempDirectory* RefineSlideshow::folder = nullptr;

TEST_F(RefineSlideshow, ExactTimesStayInTheMomentsShot) {
  index();
  const auto q = embedder->embed("blue");
  const SearchFilter videos{.kinds = {MediaKind::video}};
  const auto found = engine->search(std::span<const float>(q), videos, 20).results;
  ASSERT_EQ(found.size(), 5u) << "one moment a shot";
  for (const SearchResult& result : found) {
    const auto refined = engine->refine(result, q, clip());
    EXPECT_EQ(shot(refined.time), shot(result.time)) << result.time << " moved to " << refined.time;
  }

  const auto refined = engine->refineAll(found, q);
  ASSERT_FALSE(refined.empty());
  std::set<int> shots;
  for (std::size_t i = 0; i < refined.size(); ++i) {
    const auto from = std::find_if(found.begin(), found.end(), [&](const SearchResult& r) {
      return r.frameID == refined[i].frameID;
    });
    ASSERT_NE(from, found.end());
    EXPECT_EQ(shot(refined[i].time), shot(from->time)) << from->time << " to " << refined[i].time;
    EXPECT_TRUE(shots.insert(shot(refined[i].time)).second) << "shot shown twice";
    EXPECT_GE(refined[i].score, from->score);
    if (i > 0) {
      EXPECT_LE(refined[i].score, refined[i - 1].score) << "out of score order";
    }
    for (std::size_t j = 0; j < i; ++j)
      EXPECT_GE(std::abs(refined[i].time - refined[j].time), engine->momentWindow);
  }
  EXPECT_EQ(refined.front().frameID, found.front().frameID);
}

}  // namespace
}  // namespace quillmere
