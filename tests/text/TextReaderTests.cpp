// SPDX-License-Identifier: GPL-3.0-or-later
// The reading pipeline with the real PP-OCRv4 models on ONNX Runtime, over a Debian photo with
// words drawn on it by libvips' own text rendering.
#include <gtest/gtest.h>
#include <vips/vips.h>

#include <cctype>
#include <filesystem>
#include <fstream>

#include "platform/ImageCodec.h"
#include "support/MediaFactory.h"
#include "support/TempDirectory.h"
#include "text/TextModel.h"
#include "text/TextReader.h"

namespace quillmere {
namespace {

const std::filesystem::path modelDirectory =
    std::filesystem::path(QUILLMERE_RESOURCES_DIR) / "TextModel";
const std::filesystem::path photo = "/usr/share/backgrounds/mate/nature/Dune.jpg";

struct Words {
  std::string text;
  int x = 0, y = 0;  // where the text's box starts, before turning
  int points = 48;
  double degrees = 0;  // clockwise
  std::array<std::uint8_t, 3> colour{20, 20, 30};
};

// Draws the words over the picture: the rendered text is a coverage mask, blended in.
void draw(Picture& picture, const Words& words) {
  VipsImage* mask = nullptr;
  const std::string font = "DejaVu Sans Bold " + std::to_string(words.points);
  ASSERT_EQ(vips_text(&mask, words.text.c_str(), "font", font.c_str(), "dpi", 72, nullptr), 0);
  if (words.degrees != 0) {
    VipsImage* turned = nullptr;
    ASSERT_EQ(vips_rotate(mask, &turned, words.degrees, nullptr), 0);
    g_object_unref(mask);
    mask = turned;
  }
  std::size_t size = 0;
  auto* coverage = static_cast<std::uint8_t*>(vips_image_write_to_memory(mask, &size));
  const int width = vips_image_get_width(mask), height = vips_image_get_height(mask);
  g_object_unref(mask);
  for (int y = 0; y < height && words.y + y < picture.height; ++y) {
    for (int x = 0; x < width && words.x + x < picture.width; ++x) {
      const int alpha = coverage[y * width + x];
      std::uint8_t* pixel = &picture.rgb[((words.y + y) * picture.width + words.x + x) * 3];
      for (int c = 0; c < 3; ++c)
        pixel[c] = (words.colour[c] * alpha + pixel[c] * (255 - alpha)) / 255;
    }
  }
  g_free(coverage);
}

Picture photoWith(const std::vector<Words>& all) {
  auto picture = ImageCodec::thumbnail(photo, 1280);
  EXPECT_TRUE(picture);
  for (const auto& words : all) draw(*picture, words);
  return *picture;
}

// Letters and digits only, upper case: the recogniser often drops spaces between words.
std::string folded(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c)) out += static_cast<char>(std::toupper(c));
  }
  return out;
}

class TextReaderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (std::filesystem::exists(modelDirectory)) reader_ = new TextReader(modelDirectory);
  }
  static void TearDownTestSuite() { delete reader_; }
  void SetUp() override {
    if (!reader_) GTEST_SKIP() << "no text model at " << modelDirectory << " (scripts/setup)";
  }
  static TextReader* reader_;
};
TextReader* TextReaderTest::reader_ = nullptr;

TEST_F(TextReaderTest, ReadsTheWordsOfEachPictureInReadingOrder) {
  struct Case {
    const char* name;
    std::vector<Words> words;
    std::vector<std::string> expected;  // folded, in reading order
  } cases[] = {
      {"no text", {}, {}},
      {"two lines",
       {{"Hotel Receipt", 120, 60, 56}, {"Total 48.50", 140, 160, 40, 0, {250, 250, 250}}},
       {"HOTELRECEIPT", "TOTAL4850"}},
      {"turned ten degrees", {{"PLATFORM 7", 200, 120, 64, 10}}, {"PLATFORM7"}},
      {"upside down", {{"EXIT 25", 300, 100, 72, 180}}, {"EXIT25"}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const Picture picture = photoWith(test.words);
    const PictureText text = reader_->read(picture);
    std::vector<std::string> read;
    for (const auto& line : text.lines) {
      read.push_back(folded(line.text));
      EXPECT_GE(line.confidence, 0.5f);
    }
    EXPECT_EQ(read, test.expected);
    EXPECT_FALSE(text.capped);
  }
}

}  // namespace
}  // namespace quillmere
