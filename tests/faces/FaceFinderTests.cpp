// SPDX-License-Identifier: GPL-3.0-or-later
// The face pipeline with the real BlazeFace and MobileFaceNet graphs on ONNX Runtime, over
// real group photos.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "faces/FaceFinder.h"
#include "faces/FaceModel.h"
#include "platform/ImageCodec.h"
#include "support/TempDirectory.h"

namespace quillmere {
namespace {

const std::filesystem::path modelDirectory =
    std::filesystem::path(QUILLMERE_RESOURCES_DIR) / "FaceModel";
const std::filesystem::path photos =
    std::filesystem::path(QUILLMERE_SOURCE_DIR) / "third_party" / "face-photos";

float cosine(const FaceRecord& a, const FaceRecord& b) {
  double dot = 0;
  for (std::size_t i = 0; i < a.vector.size(); ++i)
    dot += floatFromHalf(a.vector[i]) * floatFromHalf(b.vector[i]);
  return static_cast<float>(dot);
}

class FaceFinderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (std::filesystem::exists(modelDirectory / "FaceDetector.onnx") &&
        std::filesystem::exists(photos / "sample1.jpg"))
      finder_ = new FaceFinder(modelDirectory);
  }
  static void TearDownTestSuite() {
    delete finder_;
    finder_ = nullptr;
  }
  void SetUp() override {
    if (!finder_) GTEST_SKIP() << "no face model or photos built";
  }
  static Picture photo(const std::string& name) {
    auto picture = ImageCodec::thumbnail(photos / name, 1280);
    EXPECT_TRUE(picture);
    return picture ? *picture : Picture{};
  }
  static FaceFinder* finder_;
};
FaceFinder* FaceFinderTest::finder_ = nullptr;

// The nearest face of `faces` to `box` (given in the same picture's 0..1), by centre.
const FaceRecord* nearest(const PictureFaces& faces, float x, float y) {
  const FaceRecord* best = nullptr;
  float distance = 1e9f;
  for (const auto& face : faces.faces) {
    const float d = std::hypot((face.box[0].x + face.box[1].x) / 2 - x,
                               (face.box[0].y + face.box[1].y) / 2 - y);
    if (d < distance) distance = d, best = &face;
  }
  return distance < 0.03f ? best : nullptr;
}

Picture mirrored(const Picture& picture) {
  Picture out = picture;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x)
      for (int c = 0; c < 3; ++c)
        out.rgb[(y * picture.width + x) * 3 + c] =
            picture.rgb[(y * picture.width + picture.width - 1 - x) * 3 + c];
  return out;
}

TEST_F(FaceFinderTest, FindsEveryFrontFaceOfTheGroupPhotosWithPlausibleBoxes) {
  // Counted by eye; sample2's third woman is in profile and still found.
  const std::vector<std::pair<std::string, std::size_t>> rows{
      {"sample1.jpg", 3}, {"sample2.jpg", 3}, {"sample3.jpg", 3},
      {"sample4.jpg", 4}, {"sample5.jpg", 5}, {"sample6.jpg", 4}};
  for (const auto& [name, count] : rows) {
    SCOPED_TRACE(name);
    const PictureFaces faces = finder_->find(photo(name));
    EXPECT_EQ(faces.faces.size(), count);
    EXPECT_FALSE(faces.capped);
    for (const auto& face : faces.faces) {
      const float width = face.box[1].x - face.box[0].x, height = face.box[1].y - face.box[0].y;
      EXPECT_GT(width, 0.04f);
      EXPECT_LT(width, 0.3f);
      EXPECT_GT(height / width * 1.5f, 1.0f);  // about square in pixels, photos are 3:2
      // Eyes above the nose above the mouth, all inside the box.
      EXPECT_LT(face.keypoints[0].y, face.keypoints[3].y);
      EXPECT_LT(face.keypoints[1].y, face.keypoints[3].y);
      for (int p = 0; p < 4; ++p) {
        EXPECT_GE(face.keypoints[p].x, face.box[0].x);
        EXPECT_LE(face.keypoints[p].x, face.box[1].x);
      }
      EXPECT_GE(face.quality, 0.0f);
      EXPECT_LE(face.quality, 1.0f);
      ASSERT_EQ(face.vector.size(), std::size_t(FaceModel(modelDirectory).embedder().dimension));
      EXPECT_NEAR(cosine(face, face), 1.0f, 0.01f);
    }
  }
}

// Each face found again in the photo changed as a library holds it: closer to itself than
// the threshold, and (where the embedder tells people apart) closer than to anyone else.
void expectSameFacesUnderChanges(FaceFinder& finder, bool apart) {
  const float threshold = FaceModel(modelDirectory).embedder().sameFaceCosine;
  const auto decoded = ImageCodec::thumbnail(photos / "sample6.jpg", 1280);
  ASSERT_TRUE(decoded);
  const Picture& original = *decoded;
  const PictureFaces faces = finder.find(original);
  ASSERT_EQ(faces.faces.size(), 4u);
  Picture darker = original;
  for (auto& value : darker.rgb) value = static_cast<std::uint8_t>(value * 0.6);
  const struct {
    const char* change;
    Picture picture;
    bool mirror;
  } rows[] = {
      {"resized", *ImageCodec::resize(original, original.width / 2, original.height / 2), false},
      {"mirrored", mirrored(original), true},
      {"darker", darker, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.change);
    const PictureFaces changed = finder.find(row.picture);
    for (std::size_t i = 0; i < faces.faces.size(); ++i) {
      const auto& face = faces.faces[i];
      const float cx = (face.box[0].x + face.box[1].x) / 2,
                  cy = (face.box[0].y + face.box[1].y) / 2;
      const FaceRecord* same = nearest(changed, row.mirror ? 1 - cx : cx, cy);
      ASSERT_NE(same, nullptr);
      EXPECT_GT(cosine(face, *same), threshold);
      for (std::size_t j = 0; j < faces.faces.size(); ++j) {
        if (apart && j != i) {
          EXPECT_GT(cosine(face, *same), cosine(faces.faces[j], *same));
        }
      }
    }
  }
}

TEST_F(FaceFinderTest, TheSameFaceResizedMirroredOrDarkerIsFoundAgainAndClose) {
  expectSameFacesUnderChanges(*finder_, false);
}

TEST_F(FaceFinderTest, TheSameFaceStaysCloserThanAnyOther) {
  expectSameFacesUnderChanges(*finder_, true);
}

TEST_F(FaceFinderTest, AFaceCutByThePicturesEdgeIsFoundInsideIt) {
  const Picture original = photo("sample4.jpg");
  // Cut through the leftmost face, about a third of it left, and through the top one's box.
  const int left = static_cast<int>(0.15 * original.width);
  const auto cut =
      ImageCodec::region(original, {left, 0, original.width - left, original.height}, 1280);
  ASSERT_TRUE(cut);
  const PictureFaces faces = finder_->find(*cut);
  ASSERT_GE(faces.faces.size(), 3u);
  bool atEdge = false;
  for (const auto& face : faces.faces) {
    for (const auto& point : face.box) {
      EXPECT_GE(point.x, 0.0f);
      EXPECT_LE(point.x, 1.0f);
    }
    atEdge = atEdge || face.box[0].x == 0.0f;
  }
  EXPECT_TRUE(atEdge);
}

TEST_F(FaceFinderTest, SmallFacesOfALargePictureAreFoundInItsTiles) {
  // The group at a third of the picture: its faces are about 30 pixels wide, 6 at the
  // detector's whole view, where none is found.
  const Picture group = photo("sample5.jpg");
  auto small = ImageCodec::resize(group, group.width / 3, group.height / 3);
  ASSERT_TRUE(small);
  Picture large{1280, 960, std::vector<std::uint8_t>(1280 * 960 * 3, 90)};
  for (int y = 0; y < small->height; ++y)
    std::copy_n(&small->rgb[y * small->width * 3], small->width * 3,
                &large.rgb[((y + 400) * 1280 + 700) * 3]);
  EXPECT_GE(finder_->find(large).faces.size(), 4u);
}

TEST_F(FaceFinderTest, MoreFacesThanTheCapKeepTheBestAndSayCapped) {
  test::TempDirectory copy;
  for (const auto& entry : std::filesystem::directory_iterator(modelDirectory))
    std::filesystem::copy(entry.path(), copy.path() / entry.path().filename());
  auto json = nlohmann::json::parse(std::ifstream(copy.path() / "face-model.json"));
  json["maxFaces"] = 2;
  std::ofstream(copy.path() / "face-model.json") << json.dump();
  FaceFinder capped(copy.path());
  const PictureFaces all = finder_->find(photo("sample5.jpg"));
  const PictureFaces faces = capped.find(photo("sample5.jpg"));
  EXPECT_TRUE(faces.capped);
  ASSERT_EQ(faces.faces.size(), 2u);
  EXPECT_EQ(faces.faces[0].score, all.faces[0].score);
  EXPECT_EQ(faces.faces[1].score, all.faces[1].score);
}

TEST(FaceModelTest, AMissingOrDamagedModelSaysSo) {
  test::TempDirectory directory;
  const auto description = directory.path() / "face-model.json";
  const auto expectFailure = [&](const char* what) {
    SCOPED_TRACE(what);
    try {
      FaceFinder finder(directory.path());
      ADD_FAILURE() << "no failure";
    } catch (const FaceModel::Failure& failure) {
      EXPECT_STREQ(failure.what(), "The face model is missing or damaged.");
      EXPECT_FALSE(failure.detail().empty());
    }
  };
  expectFailure("no description");
  std::ofstream(description) << "{\"name\": \"x\", \"detector\": ";
  expectFailure("cut-off description");
  std::ofstream(description) << R"({"name": "x", "detector": {"file": "d.onnx", "side": 256},
    "embedder": {"file": "e.onnx", "side": 112, "dimension": 192}})";
  expectFailure("graphs missing");
  std::ofstream(directory.path() / "d.onnx") << "not a graph";
  std::ofstream(directory.path() / "e.onnx") << "not a graph";
  expectFailure("graphs damaged");
}

}  // namespace
}  // namespace quillmere
