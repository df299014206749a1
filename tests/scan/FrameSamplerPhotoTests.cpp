// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>

#include "platform/ImageCodec.h"
#include "scan/FrameSampler.h"
#include "support/MediaFactory.h"
#include "support/TempDirectory.h"

namespace quillmere {
namespace {

namespace fs = std::filesystem;
using Reason = FrameSampler::Failure::Reason;

const std::uint8_t red[3] = {220, 30, 30};
const std::uint8_t blue[3] = {30, 30, 220};
const std::uint8_t green[3] = {30, 200, 30};
const std::uint8_t magenta[3] = {220, 30, 220};

const fs::path wallpapers = "/usr/share/backgrounds/mate/nature";

// Expects photo() to fail with the given reason.
void expectFailure(const fs::path& file, Reason reason) {
  try {
    FrameSampler::photo(file, 384);
    ADD_FAILURE() << file << " was read";
  } catch (const FrameSampler::Failure& failure) {
    EXPECT_EQ(failure.reason(), reason) << file;
    EXPECT_STREQ(failure.what(), "This file can't be read.");
  }
}

void expectColour(const std::vector<double>& mean, const std::uint8_t colour[3],
                  double within = 25) {
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(mean[c], colour[c], within) << "channel " << c;
}

class FrameSamplerPhoto : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { dir_ = new test::TempDirectory; }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static fs::path path(const std::string& name) { return *dir_ / name; }

  static test::TempDirectory* dir_;
};
test::TempDirectory* FrameSamplerPhoto::dir_ = nullptr;

TEST_F(FrameSamplerPhoto, AppliesOrientationSixToSizeAndPixels) {
  const auto file = path("rotated.jpg");
  test::savePicture(test::splitPicture(4000, 3000, red, blue), file, "[Q=85]");
  test::runCommand("exiftool -q -overwrite_original -Orientation#=6 " + test::shellQuoted(file));

  const auto sampled = FrameSampler::photo(file, 384);
  EXPECT_EQ(sampled.width, 3000);
  EXPECT_EQ(sampled.height, 4000);
  EXPECT_EQ(sampled.duration, 0);
  ASSERT_EQ(sampled.frames.size(), 1u);
  const Picture& picture = sampled.frames[0].image;
  EXPECT_EQ(sampled.frames[0].time, 0);
  EXPECT_EQ(picture.width, 288);
  EXPECT_EQ(picture.height, 384);
  EXPECT_EQ(picture.rgb.size(), 288u * 384 * 3);
  // A quarter turn clockwise brings the stored left half to the top.
  expectColour(test::meanColour(picture, 0, 0, 288, 150), red);
  expectColour(test::meanColour(picture, 0, 234, 288, 150), blue);
}

TEST_F(FrameSamplerPhoto, UsesAnEmbeddedThumbnailOnlyWhenBigEnough) {
  const auto main = path("with-thumb.jpg");
  const auto small = path("with-small-thumb.jpg");
  test::savePicture(test::solidPicture(2000, 1500, green[0], green[1], green[2]), main, "[Q=85]");
  fs::copy_file(main, small);
  const auto bigThumb = path("thumb-320.jpg");
  const auto smallThumb = path("thumb-160.jpg");
  test::savePicture(test::solidPicture(320, 240, magenta[0], magenta[1], magenta[2]), bigThumb);
  test::savePicture(test::solidPicture(160, 120, magenta[0], magenta[1], magenta[2]), smallThumb);
  test::runCommand("exiftool -q -overwrite_original \"-ThumbnailImage<=" + bigThumb.string() +
                   "\" " + test::shellQuoted(main));
  test::runCommand("exiftool -q -overwrite_original \"-ThumbnailImage<=" + smallThumb.string() +
                   "\" " + test::shellQuoted(small));

  // 320 on the long side is at least 256: the embedded picture is taken as it is.
  const auto fromThumb = FrameSampler::photo(main, 384);
  EXPECT_EQ(fromThumb.width, 2000);
  EXPECT_EQ(fromThumb.height, 1500);
  ASSERT_EQ(fromThumb.frames.size(), 1u);
  EXPECT_EQ(fromThumb.frames[0].image.width, 320);
  EXPECT_EQ(fromThumb.frames[0].image.height, 240);
  expectColour(test::meanColour(fromThumb.frames[0].image, 0, 0, 320, 240), magenta);

  // 160 is too small for a 2000-pixel source: the full image is decoded instead.
  const auto decoded = FrameSampler::photo(small, 384);
  ASSERT_EQ(decoded.frames.size(), 1u);
  EXPECT_EQ(decoded.frames[0].image.width, 384);
  EXPECT_EQ(decoded.frames[0].image.height, 288);
  expectColour(test::meanColour(decoded.frames[0].image, 0, 0, 384, 288), green);

  // A limit below the thumbnail's size reduces it further.
  const auto reduced = FrameSampler::photo(main, 300);
  EXPECT_EQ(reduced.frames[0].image.width, 300);
  EXPECT_EQ(reduced.frames[0].image.height, 225);
}

TEST_F(FrameSamplerPhoto, TurnsAnEmbeddedThumbnailUprightToo) {
  const auto file = path("rotated-thumb.jpg");
  const auto thumb = path("rotated-thumb-320.jpg");
  test::savePicture(test::splitPicture(1600, 1200, green, green), file, "[Q=85]");
  test::savePicture(test::splitPicture(320, 240, red, blue), thumb);
  test::runCommand("exiftool -q -overwrite_original -Orientation#=6 \"-ThumbnailImage<=" +
                   thumb.string() + "\" " + test::shellQuoted(file));
  const auto sampled = FrameSampler::photo(file, 384);
  EXPECT_EQ(sampled.width, 1200);
  EXPECT_EQ(sampled.height, 1600);
  const Picture& picture = sampled.frames.at(0).image;
  EXPECT_EQ(picture.width, 240);
  EXPECT_EQ(picture.height, 320);
  expectColour(test::meanColour(picture, 0, 0, 240, 140), red);
  expectColour(test::meanColour(picture, 0, 180, 240, 140), blue);
}

// An EXIF thumbnail whose header claims 60000 x 60000 (a progressive JPEG of that size needs
// gigabytes to decode) is refused from its header; the image itself is decoded instead.
TEST_F(FrameSamplerPhoto, AnEmbeddedThumbnailLargerThanItsImageIsIgnored) {
  const auto file = path("thumb-bomb.jpg");
  const auto thumb = path("thumb-bomb-thumb.jpg");
  test::savePicture(test::solidPicture(64, 48, green[0], green[1], green[2]), file);
  test::savePicture(test::solidPicture(48, 32, red[0], red[1], red[2]), thumb, "[interlace]");
  std::fstream bytes(thumb, std::ios::in | std::ios::out | std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(bytes)), std::istreambuf_iterator<char>());
  const auto sof2 = data.find("\xFF\xC2");
  ASSERT_NE(sof2, std::string::npos) << "not a progressive JPEG";
  bytes.seekp(static_cast<std::streamoff>(sof2 + 5));  // height and width, big-endian
  bytes.write("\xEA\x60\xEA\x60", 4);
  bytes.close();
  test::runCommand("exiftool -q -overwrite_original \"-ThumbnailImage<=" + thumb.string() + "\" " +
                   test::shellQuoted(file));

  const auto header = ImageCodec::header(file);
  ASSERT_TRUE(header.has_value());
  ASSERT_FALSE(header->exifThumbnail.empty());
  EXPECT_FALSE(ImageCodec::embeddedThumbnail(file, *header, 384).has_value());
  const auto sampled = FrameSampler::photo(file, 384);
  ASSERT_EQ(sampled.frames.size(), 1u);
  EXPECT_EQ(sampled.frames[0].image.width, 64);
  expectColour(test::meanColour(sampled.frames[0].image, 0, 0, 64, 48), green);
}

TEST_F(FrameSamplerPhoto, NeverEnlargesAndReadsTheCommonFormats) {
  struct Case {
    const char* name;
    const char* options;
  };
  const Picture source = test::splitPicture(100, 80, red, blue);
  for (const Case& c : {Case{"small.png", ""}, Case{"small.webp", "[Q=90]"}, Case{"small.tif", ""},
                        Case{"small.gif", ""}, Case{"small.jpg", ""}, Case{"small.bmp", ""},
                        Case{"small.heic", "[Q=90]"}, Case{"small.avif", "[Q=90]"}}) {
    const auto file = path(c.name);
    test::savePicture(source, file, c.options);
    const auto sampled = FrameSampler::photo(file, 384);
    EXPECT_EQ(sampled.width, 100) << c.name;
    EXPECT_EQ(sampled.height, 80) << c.name;
    ASSERT_EQ(sampled.frames.size(), 1u) << c.name;
    const Picture& picture = sampled.frames[0].image;
    EXPECT_EQ(picture.width, 100) << c.name;
    EXPECT_EQ(picture.height, 80) << c.name;
    expectColour(test::meanColour(picture, 0, 0, 40, 80), red, 40);
    expectColour(test::meanColour(picture, 60, 0, 40, 80), blue, 40);
  }
}

TEST_F(FrameSamplerPhoto, FlattensAlphaAndWidensGrey) {
  const auto alpha = path("alpha.png");
  test::savePicture(test::solidPicture(64, 64, 250, 250, 250), path("plain.png"));
  test::runCommand("vips bandjoin_const " + test::shellQuoted(path("plain.png")) + " " +
                   test::shellQuoted(alpha) + " 0");
  const auto flat = FrameSampler::photo(alpha, 384).frames.at(0).image;
  EXPECT_EQ(flat.rgb.size(), 64u * 64 * 3);
  // Fully transparent pixels come out black.
  expectColour(test::meanColour(flat, 0, 0, 64, 64), std::array<std::uint8_t, 3>{0, 0, 0}.data(),
               2);

  const auto grey = path("grey.png");
  test::runCommand("vips colourspace " + test::shellQuoted(path("plain.png")) + " " +
                   test::shellQuoted(grey) + " b-w");
  const auto wide = FrameSampler::photo(grey, 384).frames.at(0).image;
  EXPECT_EQ(wide.rgb.size(), 64u * 64 * 3);
  expectColour(test::meanColour(wide, 0, 0, 64, 64),
               std::array<std::uint8_t, 3>{250, 250, 250}.data(), 3);
}

TEST_F(FrameSamplerPhoto, ReducesRealPhotosLikeVipsthumbnail) {
  std::vector<fs::path> photos;
  for (const auto& entry : fs::directory_iterator(wallpapers)) {
    if (entry.path().extension() == ".jpg") photos.push_back(entry.path());
  }
  ASSERT_GE(photos.size(), 4u) << "mate-backgrounds is not installed";
  std::sort(photos.begin(), photos.end());
  photos.resize(4);
  for (const auto& file : photos) {
    const auto reference = path(file.stem().string() + ".ref.png");
    test::runCommand("vipsthumbnail -s 384 -o " + test::shellQuoted(reference) + " " +
                     test::shellQuoted(file));
    const Picture expected = test::loadPicture(reference);
    const auto sampled = FrameSampler::photo(file, 384);
    const Picture& got = sampled.frames.at(0).image;
    EXPECT_EQ(got.width, expected.width) << file;
    EXPECT_EQ(got.height, expected.height) << file;
    EXPECT_EQ(std::max(got.width, got.height), 384) << file;
    EXPECT_GT(sampled.width, 1000) << file;
    EXPECT_EQ(static_cast<double>(sampled.width) / sampled.height > 1, got.width > got.height);
    ASSERT_EQ(got.rgb.size(), expected.rgb.size()) << file;
    double total = 0;
    for (std::size_t i = 0; i < got.rgb.size(); ++i)
      total += std::abs(static_cast<int>(got.rgb[i]) - static_cast<int>(expected.rgb[i]));
    EXPECT_LT(total / got.rgb.size(), 2.0) << file;
  }
}

TEST_F(FrameSamplerPhoto, HostileFilesAreUnreadable) {
  std::ofstream(path("empty.jpg")).close();
  expectFailure(path("empty.jpg"), Reason::unreadable);

  const auto real = wallpapers / "Garden.jpg";
  test::writeTruncated(path("truncated.jpg"), real, fs::file_size(real) / 2);
  expectFailure(path("truncated.jpg"), Reason::unreadable);

  test::writeRandom(path("random.jpg"), 50000, 7);
  expectFailure(path("random.jpg"), Reason::unreadable);

  // Declares 3.6 gigapixels: refused from the header alone.
  test::writeDeclaredPng(path("bomb.png"), 60000, 60000);
  expectFailure(path("bomb.png"), Reason::unreadable);
  // Under the pixel limit but with its rows missing: the decode fails on the missing data.
  test::writeDeclaredPng(path("hollow.png"), 12000, 12000);
  expectFailure(path("hollow.png"), Reason::unreadable);

  expectFailure(path("missing.jpg"), Reason::unreadable);
  fs::create_directory(path("folder.jpg"));
  expectFailure(path("folder.jpg"), Reason::unreadable);
  // Text that only its name calls an image.
  std::ofstream(path("matrix.jpg")) << "2 2\n1 2\n3 4\n";
  expectFailure(path("matrix.jpg"), Reason::unreadable);
}

TEST(FrameSamplerThumbnail, ReducesToTwoHundredPixelsAndNeverEnlarges) {
  test::TempDirectory dir;
  struct Case {
    int width, height, expectedWidth, expectedHeight;
  };
  for (const Case& c :
       {Case{150, 100, 150, 100}, Case{4000, 3000, 200, 150}, Case{3000, 4000, 150, 200},
        Case{200, 200, 200, 200}, Case{1000, 3, 200, 1}}) {
    const Picture source = test::splitPicture(c.width, c.height, red, blue);
    const auto data = FrameSampler::thumbnailData(source, 200);
    ASSERT_TRUE(data.has_value());
    ASSERT_GT(data->size(), 4u);
    EXPECT_EQ((*data)[0], 0xFF);
    EXPECT_EQ((*data)[1], 0xD8);
    const auto file = dir / (std::to_string(c.width) + "x" + std::to_string(c.height) + ".jpg");
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(data->data()),
               static_cast<std::streamsize>(data->size()));
    const Picture decoded = test::loadPicture(file);
    EXPECT_EQ(decoded.width, c.expectedWidth) << c.width << "x" << c.height;
    EXPECT_EQ(decoded.height, c.expectedHeight) << c.width << "x" << c.height;
    if (decoded.width >= 8) {
      expectColour(test::meanColour(decoded, 0, 0, decoded.width / 4, decoded.height), red, 30);
      expectColour(
          test::meanColour(decoded, decoded.width * 3 / 4, 0, decoded.width / 4, decoded.height),
          blue, 30);
    }
  }
  EXPECT_EQ(FrameSampler::thumbnailData(Picture{}, 200), std::nullopt);
  Picture broken{10, 10, std::vector<std::uint8_t>(5)};
  EXPECT_EQ(FrameSampler::thumbnailData(broken, 200), std::nullopt);
}

TEST(FrameSamplerThumbnail, QualitySitsBetweenLowAndHigh) {
  test::TempDirectory dir;
  // Photographic detail makes the encoder's quality visible in the byte count.
  const auto reference = dir / "ref.png";
  test::runCommand("vipsthumbnail -s 200 -o " + test::shellQuoted(reference) + " " +
                   test::shellQuoted(wallpapers / "Garden.jpg"));
  const Picture picture = test::loadPicture(reference);
  const auto ours = FrameSampler::thumbnailData(picture, 200);
  ASSERT_TRUE(ours.has_value());
  auto sizeAt = [&](int quality) {
    const auto file = dir / ("q" + std::to_string(quality) + ".jpg");
    test::runCommand(
        "vips copy " + test::shellQuoted(reference) + " " +
        test::shellQuoted(file.string() + "[Q=" + std::to_string(quality) + ",strip]"));
    return fs::file_size(file);
  };
  EXPECT_GT(ours->size(), sizeAt(50));
  EXPECT_LT(ours->size(), sizeAt(75));
}

TEST(FrameSamplerSignature, DifferenceIsTheMeanChannelDistance) {
  const FrameSampler::Signature black(576, 0);
  FrameSampler::Signature white(576, 255);
  EXPECT_EQ(FrameSampler::difference(black, black), 0);
  // The fourth byte of each pixel is not compared.
  for (std::size_t i = 3; i < white.size(); i += 4) white[i] = 0;
  EXPECT_EQ(FrameSampler::difference(black, white), 255);
  FrameSampler::Signature unused = black;
  for (std::size_t i = 3; i < unused.size(); i += 4) unused[i] = 200;
  EXPECT_EQ(FrameSampler::difference(black, unused), 0);
  FrameSampler::Signature five = black;
  for (std::size_t i = 0; i < five.size(); i += 4) five[i] = 15;  // red only: 15 / 3
  EXPECT_DOUBLE_EQ(FrameSampler::difference(black, five), 5);
  EXPECT_EQ(FrameSampler::difference({}, white), 0);
  // Only the common length counts, partial pixels included.
  EXPECT_DOUBLE_EQ(FrameSampler::difference({0, 0, 0, 0, 30}, {0, 0, 0, 9, 0, 0}), 30.0 / 4);
}

TEST(FrameSamplerSignature, IsSixteenByNineColours) {
  const Picture picture = test::splitPicture(384, 216, red, blue);
  const auto signature = FrameSampler::signature(picture);
  ASSERT_EQ(signature.size(), 576u);
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 16; ++x) {
      const std::uint8_t* expected = x < 8 ? red : blue;
      const auto* pixel = signature.data() + (y * 16 + x) * 4;
      EXPECT_EQ(pixel[0], expected[0]);
      EXPECT_EQ(pixel[1], expected[1]);
      EXPECT_EQ(pixel[2], expected[2]);
    }
  }
  EXPECT_EQ(FrameSampler::signature(Picture{}), FrameSampler::Signature(576, 0));
}

}  // namespace
}  // namespace quillmere
