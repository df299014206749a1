// SPDX-License-Identifier: GPL-3.0-or-later
// The demo model that the build makes, end to end on real photos (Debian's mate-backgrounds).
#include <gtest/gtest.h>
#include <vips/vips.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "core/Float16.h"
#include "model/Embedder.h"
#include "platform/ResourceLocator.h"

namespace quillmere {
namespace {

const std::filesystem::path photos = "/usr/share/backgrounds/mate/nature";
const std::vector<std::string> names = {"Aqua",   "Blinds",      "Dune",     "FreshFlower",
                                        "Garden", "GreenMeadow", "LadyBird", "RainDrops",
                                        "Storm",  "TwoWings",    "Wood",     "YellowFlower"};

Picture pictureOf(VipsImage* image) {
  VipsImage* rgb = nullptr;
  if (vips_colourspace(image, &rgb, VIPS_INTERPRETATION_sRGB, nullptr) != 0) return {};
  VipsImage* three = nullptr;
  vips_extract_band(rgb, &three, 0, "n", 3, nullptr);
  g_object_unref(rgb);
  Picture picture{.width = three->Xsize, .height = three->Ysize};
  std::size_t size = 0;
  auto* bytes = static_cast<std::uint8_t*>(vips_image_write_to_memory(three, &size));
  picture.rgb.assign(bytes, bytes + size);
  g_free(bytes);
  g_object_unref(three);
  return picture;
}

// A photo as the indexer would see it: decoded to at most 640 pixels wide.
Picture photo(const std::string& name) {
  VipsImage* image = nullptr;
  std::string path = (photos / (name + ".jpg")).string();
  EXPECT_EQ(vips_thumbnail(path.c_str(), &image, 640, nullptr), 0) << vips_error_buffer();
  Picture picture = pictureOf(image);
  g_object_unref(image);
  return picture;
}

// A near-identical copy: resized to `scale` of the full photo and re-encoded as JPEG (Q 62).
Picture copyOf(const std::string& name, double scale) {
  std::string path = (photos / (name + ".jpg")).string();
  VipsImage* full = vips_image_new_from_file(path.c_str(), nullptr);
  VipsImage* smaller = nullptr;
  EXPECT_EQ(vips_resize(full, &smaller, scale, nullptr), 0);
  void* jpeg = nullptr;
  std::size_t size = 0;
  EXPECT_EQ(vips_jpegsave_buffer(smaller, &jpeg, &size, "Q", 62, nullptr), 0);
  VipsImage* decoded = nullptr;
  EXPECT_EQ(vips_thumbnail_buffer(jpeg, size, &decoded, 640, nullptr), 0);
  Picture picture = pictureOf(decoded);
  g_object_unref(decoded);
  g_free(jpeg);
  g_object_unref(smaller);
  g_object_unref(full);
  return picture;
}

// The photo at a fifth of its brightness.
Picture darkened(const std::string& name) {
  Picture picture = photo(name);
  for (auto& sample : picture.rgb) sample = static_cast<std::uint8_t>(sample / 5);
  return picture;
}

float dot(const std::vector<float>& a, const std::vector<float>& b) {
  float sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) sum += a[i] * b[i];
  return sum;
}

class DemoModel : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(VIPS_INIT("quillmere-tests"), 0);
    auto resources = ResourceLocator::resourcesDirectory();
    ASSERT_TRUE(resources.has_value());
    embedder = new Embedder(*resources / "Model");
    std::vector<Picture> pictures;
    for (const auto& name : names) pictures.push_back(photo(name));
    for (const auto& halves : embedder->embed(pictures)) {
      vectors.push_back(floatsFromHalves(halves));
    }
  }
  static void TearDownTestSuite() {
    delete embedder;
    embedder = nullptr;
    vectors.clear();
  }
  static std::vector<float> image(const Picture& picture) {
    return floatsFromHalves(embedder->embed(std::vector{picture}).front());
  }
  static float score(const std::string& query, const std::string& name) {
    auto at = std::find(names.begin(), names.end(), name) - names.begin();
    return dot(embedder->embed(query), vectors[static_cast<std::size_t>(at)]);
  }

  static Embedder* embedder;
  static std::vector<std::vector<float>> vectors;
};
using DemoModelConcurrency = DemoModel;

Embedder* DemoModel::embedder = nullptr;
std::vector<std::vector<float>> DemoModel::vectors;

TEST_F(DemoModel, SaysWhatItIs) {
  EXPECT_EQ(embedder->info().hf, "quillmere-demo");
  EXPECT_EQ(embedder->info().signature(), "quillmere-demo@224");
  EXPECT_EQ(embedder->info().dim, 256);
  for (const auto& vector : vectors) EXPECT_NEAR(dot(vector, vector), 1.0f, 2e-3f);
}

TEST_F(DemoModel, QueriesAreTokenisedThroughMerges) {
  // Learned words are one token; unknown letters and accents fall back to pieces and bytes.
  auto tokens = embedder->tokenize("Red car at night");  // red, " car", " at", " night"
  EXPECT_EQ(std::find(tokens.begin(), tokens.end(), 1) - tokens.begin(), 4);
  EXPECT_EQ(embedder->tokenize("RED"), embedder->tokenize("red"));
  auto accented = embedder->tokenize("caf\u00e9");
  EXPECT_GT(std::find(accented.begin(), accented.end(), 1) - accented.begin(), 2);
}

TEST_F(DemoModel, ColourWordsRankMatchingPhotos) {
  EXPECT_GT(score("red", "Garden"), score("red", "Aqua"));
  EXPECT_GT(score("blue", "Aqua"), score("blue", "Garden"));
  EXPECT_GT(score("green", "GreenMeadow"), score("green", "FreshFlower"));
  EXPECT_GT(score("yellow", "YellowFlower"), score("yellow", "Storm"));
  // Words of no colour say nothing about any picture.
  EXPECT_NEAR(score("car", "Garden"), 0.0f, 1e-2f);
  // Scene words lean on their colours.
  EXPECT_GT(score("sky", "Dune"), score("sky", "Blinds"));
  EXPECT_GT(score("grass", "GreenMeadow"), score("grass", "Storm"));
  EXPECT_GT(score("sunset", "TwoWings"), score("sunset", "Aqua"));
  // "red car at night": dark and red pictures first.
  auto query = embedder->embed("red car at night");
  std::size_t best = 0;
  for (std::size_t i = 1; i < names.size(); ++i) {
    if (dot(query, vectors[i]) > dot(query, vectors[best])) best = i;
  }
  EXPECT_EQ(names[best], "FreshFlower");
}

TEST_F(DemoModelConcurrency, TextAndImagesRunTogetherFromSeveralThreads) {
  const std::vector<std::string> queries = {"red", "blue sky", "night", "green grass", "snow"};
  std::vector<std::vector<float>> expectedText;
  for (const auto& query : queries) expectedText.push_back(embedder->embed(query));
  std::vector<Picture> batch{photo("Garden"), photo("Storm"), photo("Wood")};
  auto expectedImages = embedder->embed(batch);

  std::atomic<int> wrong = 0, failed = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 30; ++i) {
        std::size_t q = static_cast<std::size_t>(i + t) % queries.size();
        try {
          if (embedder->embed(queries[q]) != expectedText[q]) ++wrong;
        } catch (...) {
          ++failed;
        }
      }
    });
  }
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 3; ++i) {
        try {
          if (embedder->embed(batch) != expectedImages) ++wrong;
          if (t == 1) embedder->releaseImages();  // a run in progress keeps its encoder
        } catch (...) {
          ++failed;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(failed.load(), 0);
}

TEST_F(DemoModel, NightRanksTheDarkPictureFirst) {
  auto night = embedder->embed("night");
  float dark = dot(night, image(darkened("Dune")));
  for (std::size_t i = 0; i < names.size(); ++i)
    EXPECT_GT(dark, dot(night, vectors[i])) << names[i];
  EXPECT_GT(embedder->probability(dark), 0.5f);
}

TEST_F(DemoModel, CopiesScoreHighAndDifferentPhotosLow) {
  float lowestCopy = 1, highestOther = -1;
  for (std::size_t i = 0; i < names.size(); ++i) {
    float copy = dot(vectors[i], image(copyOf(names[i], i % 2 ? 0.5 : 0.3)));
    EXPECT_GE(copy, 0.985f) << names[i];
    lowestCopy = std::min(lowestCopy, copy);
    for (std::size_t j = i + 1; j < names.size(); ++j) {
      float other = dot(vectors[i], vectors[j]);
      EXPECT_LT(other, 0.93f) << names[i] << " / " << names[j];
      highestOther = std::max(highestOther, other);
    }
  }
  RecordProperty("lowestCopy", std::to_string(lowestCopy));
  RecordProperty("highestOther", std::to_string(highestOther));
}

}  // namespace
}  // namespace quillmere
