// SPDX-License-Identifier: GPL-3.0-or-later
// The reading pipeline with the real PP-OCRv4 models on ONNX Runtime, over a Debian photo with
// words drawn on it by libvips' own text rendering.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/ImageCodec.h"
#include "support/DrawnWords.h"
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

void draw(Picture& picture, const Words& words) {
  ASSERT_TRUE(quillmere::draw(picture, {.text = words.text,
                                        .font = "DejaVu Sans Bold " + std::to_string(words.points),
                                        .x = words.x,
                                        .y = words.y,
                                        .degrees = words.degrees,
                                        .ink = words.colour}));
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
    bool upsideDown = false;            // the box starts at the picture's lower right
  } cases[] = {
      {"no text", {}, {}},
      {"two lines",
       {{"Hotel Receipt", 120, 60, 56}, {"Total 48.50", 140, 160, 40, 0, {250, 250, 250}}},
       {"HOTELRECEIPT", "TOTAL4850"}},
      {"turned ten degrees", {{"PLATFORM 7", 200, 120, 64, 10}}, {"PLATFORM7"}},
      {"upside down", {{"EXIT 25", 300, 100, 72, 180}}, {"EXIT25"}, true},
      {"small words pass the first look", {{"Station Road", 400, 500, 28}}, {"STATIONROAD"}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const Picture picture = photoWith(test.words);
    const PictureText text = reader_->read(picture);
    std::vector<std::string> read;
    for (const auto& line : text.lines) {
      read.push_back(folded(line.text));
      EXPECT_GE(line.confidence, 0.5f);
      EXPECT_EQ(line.box[0].y > line.box[2].y, test.upsideDown);
      EXPECT_EQ(line.box[0].x > line.box[2].x, test.upsideDown);
    }
    EXPECT_EQ(read, test.expected);
    EXPECT_FALSE(text.capped);
  }
}

// What the decoder hands over from files of other pixel formats reads the same.
TEST_F(TextReaderTest, ReadsPicturesDecodedFromEveryPixelFormat) {
  const test::TempDirectory directory;
  const auto source = directory / "source.png";
  test::savePicture(photoWith({{"Hotel Receipt", 120, 60, 56}}), source);
  struct Case {
    const char* file;
    const char* command;  // a vips command from the source to the file
  } cases[] = {
      {"grey16.png", "colourspace %s %s grey16"},
      {"cmyk.jpg", "icc_export %s %s --output-profile cmyk"},
      {"alpha.png", "bandjoin_const %s %s 255"},
      {"palette.png", "pngsave %s %s --palette"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.file);
    const auto file = directory / test.file;
    char command[512];
    std::snprintf(command, sizeof command, test.command, test::shellQuoted(source).c_str(),
                  test::shellQuoted(file).c_str());
    test::runCommand(std::string("vips ") + command);
    const auto picture = ImageCodec::thumbnail(file, static_cast<int>(reader_->pixels()));
    ASSERT_TRUE(picture);
    const PictureText text = reader_->read(*picture);
    ASSERT_EQ(text.lines.size(), 1u);
    EXPECT_EQ(folded(text.lines[0].text), "HOTELRECEIPT");
  }
}

// A copy of the model directory, its large files linked, with one change made to it.
class DamagedModel {
 public:
  explicit DamagedModel(const std::function<void(const std::filesystem::path&)>& damage) {
    for (const auto& entry : std::filesystem::directory_iterator(modelDirectory)) {
      const auto target = directory_ / entry.path().filename().string();
      if (entry.path().extension() == ".onnx") {
        std::filesystem::create_symlink(entry.path(), target);
      } else {
        std::filesystem::copy_file(entry.path(), target);
      }
    }
    damage(directory_.path());
  }
  const std::filesystem::path& path() const { return directory_.path(); }

 private:
  test::TempDirectory directory_;
};

void replaceText(const std::filesystem::path& file, const std::string& from,
                 const std::string& to) {
  std::ifstream in(file);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
  std::filesystem::remove(file);
  std::ofstream(file) << text;
}

TEST_F(TextReaderTest, RefusesAMissingOrDamagedModelDirectory) {
  using Path = const std::filesystem::path&;
  struct Case {
    const char* name;
    std::function<void(Path)> damage;
  } cases[] = {
      {"no directory", [](Path d) { std::filesystem::remove_all(d); }},
      {"no description", [](Path d) { std::filesystem::remove(d / "text-model.json"); }},
      {"malformed description",
       [](Path d) { replaceText(d / "text-model.json", "\"name\"", "name"); }},
      {"unusable side",
       [](Path d) { replaceText(d / "text-model.json", "\"side\": 1280", "\"side\": 1270"); }},
      {"unusable first look threshold",
       [](Path d) {
         replaceText(d / "text-model.json", "\"firstLookThreshold\": 0.3",
                     "\"firstLookThreshold\": 1.5");
       }},
      {"no recogniser", [](Path d) { std::filesystem::remove(d / "ch_PP-OCRv4_rec_infer.onnx"); }},
      {"short dictionary", [](Path d) { replaceText(d / "ppocr_keys_v1.txt", "\n", ""); }},
      {"damaged detector",
       [](Path d) {
         std::filesystem::remove(d / "ch_PP-OCRv4_det_infer.onnx");
         std::ofstream(d / "ch_PP-OCRv4_det_infer.onnx") << "not a graph";
       }},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const DamagedModel model(test.damage);
    try {
      TextReader reader(model.path());
      ADD_FAILURE() << "the reader was made";
    } catch (const TextModel::Failure& failure) {
      EXPECT_STREQ(failure.what(), "The text model is missing or damaged.");
      EXPECT_FALSE(failure.detail().empty());
    }
  }
}

TEST_F(TextReaderTest, ReadsNoMoreBoxesThanTheCapAndSaysSo) {
  const DamagedModel model([](const std::filesystem::path& d) {
    replaceText(d / "text-model.json", "\"maxBoxes\": 500", "\"maxBoxes\": 1");
  });
  TextReader capped(model.path());
  const PictureText text =
      capped.read(photoWith({{"Hotel Receipt", 120, 60, 56}, {"Total 48.50", 140, 260, 56}}));
  EXPECT_TRUE(text.capped);
  EXPECT_EQ(text.lines.size(), 1u);
}

}  // namespace
}  // namespace quillmere
