#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "core/Float16.h"
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

class Refine : public test::SearchTest {
 protected:
  static void SetUpTestSuite() {
    test::SearchTest::SetUpTestSuite();
    clips = new test::TempDirectory;
    // Ten frames a second, grey except for single frames of colour at 0.0 (red), 1.3
    // (yellow), 2.4 (green) and 2.8 (cyan), and blue at 2.6 and 2.7. Frames are counted, not timed,
    // so every colour sits on its frame exactly.
    std::string boxes;
    for (const auto& [colour, frames] :
         std::vector<std::pair<const Colour*, std::string>>{{&red, "eq(n,0)"},
                                                            {&yellow, "eq(n,13)"},
                                                            {&green, "eq(n,24)"},
                                                            {&blue, "between(n,26,27)"},
                                                            {&cyan, "eq(n,28)"}}) {
      boxes += "drawbox=t=fill:c=" + std::string(colour->hex) + ":enable='" + frames + "',";
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

  // The image vector of a flat picture of the colour, as a query.
  static std::vector<float> query(const Colour& colour) {
    return floatsFromHalves(imageVector(colour));
  }
  static std::vector<Half> imageVector(const Colour& colour) {
    return embedder->embed(std::vector{test::solidPicture(160, 90, colour.r, colour.g, colour.b)})
        .at(0);
  }
  // A score the colour's own frame beats and every other colour of the clip does not.
  static float between(const Colour& colour) {
    const auto q = query(colour);
    const float own = dot(q, imageVector(colour));
    float others = -1;
    for (const Colour* other : {&red, &yellow, &green, &blue, &cyan, &grey}) {
      if (other->hex != colour.hex) others = std::max(others, dot(q, imageVector(*other)));
    }
    EXPECT_GT(own - others, 0.1f) << "the model must tell " << colour.hex << " apart";
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

}  // namespace
}  // namespace quillmere
