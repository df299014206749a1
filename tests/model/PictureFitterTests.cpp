// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdlib>

#include "model/ModelFixtures.h"
#include "model/PictureFitter.h"

namespace quillmere {
namespace {

using Rectangle = PictureFitter::Rectangle;
using RGB = std::array<std::uint8_t, 3>;

// Vertical bands of colour: each band is (width, colour).
Picture bands(int height, const std::vector<std::pair<int, RGB>>& parts) {
  int width = 0;
  for (const auto& part : parts) width += part.first;
  Picture picture{.width = width, .height = height};
  picture.rgb.reserve(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (const auto& [w, colour] : parts) {
      for (int x = 0; x < w; ++x)
        picture.rgb.insert(picture.rgb.end(), colour.begin(), colour.end());
    }
  }
  return picture;
}

RGB pixel(const std::vector<std::uint8_t>& square, int side, int x, int y) {
  std::size_t at = (static_cast<std::size_t>(y) * side + x) * 3;
  return {square[at], square[at + 1], square[at + 2]};
}

bool near(RGB a, RGB b, int tolerance = 2) {
  for (int c = 0; c < 3; ++c) {
    if (std::abs(a[c] - b[c]) > tolerance) return false;
  }
  return true;
}

constexpr RGB red{230, 20, 20}, green{20, 200, 40}, blue{20, 30, 220};

TEST(PictureFitter, FillScalesTheShorterSideToTheSquareAndCentres) {
  EXPECT_EQ(PictureFitter::rectangle(4000, 1000, 224, "crop"), (Rectangle{-336, 0, 896, 224}));
  EXPECT_EQ(PictureFitter::rectangle(1000, 4000, 224, "fill"), (Rectangle{0, -336, 224, 896}));
  EXPECT_EQ(PictureFitter::rectangle(300, 300, 224, ""), (Rectangle{0, 0, 224, 224}));
  // Only the exact word squashes.
  EXPECT_EQ(PictureFitter::rectangle(4000, 1000, 224, "Squash"), (Rectangle{-336, 0, 896, 224}));
  EXPECT_EQ(PictureFitter::rectangle(4000, 1000, 224, "squash"), (Rectangle{0, 0, 224, 224}));
  Rectangle odd = PictureFitter::rectangle(1001, 1000, 224, "crop");
  EXPECT_DOUBLE_EQ(odd.width, 224.0 * 1001 / 1000);
  const double k = 224.0 / 1000;
  EXPECT_DOUBLE_EQ(odd.x, (224 - k * 1001) / 2);
}

TEST(PictureFitter, MiddleQuarterOfAWidePictureFillsTheSquare) {
  // 4000 x 1000: the middle quarter (1500...2500) is green, red and blue beside it.
  Picture wide = bands(1000, {{1500, red}, {1000, green}, {1500, blue}});
  std::vector<std::uint8_t> square(224 * 224 * 3, 0);
  ASSERT_TRUE(PictureFitter::draw(wide, 224, "crop", square.data()));
  int off = 0;
  for (int y = 0; y < 224; y += 7) {
    for (int x = 2; x < 222; ++x) off += !near(pixel(square, 224, x, y), green);
  }
  EXPECT_EQ(off, 0);

  ASSERT_TRUE(PictureFitter::draw(wide, 224, "squash", square.data()));
  // Squeezed: 1500 / 4000 of the width is red, then a quarter green, then blue.
  EXPECT_TRUE(near(pixel(square, 224, 40, 100), red));
  EXPECT_TRUE(near(pixel(square, 224, 112, 100), green));
  EXPECT_TRUE(near(pixel(square, 224, 190, 100), blue));
  EXPECT_TRUE(near(pixel(square, 224, 78, 0), red));
  EXPECT_TRUE(near(pixel(square, 224, 90, 223), green));
}

TEST(PictureFitter, EveryByteOfTheSquareIsWritten) {
  for (const auto& [w, h] : std::vector<std::pair<int, int>>{
           {1001, 1000}, {3, 7}, {225, 224}, {1, 1}, {500, 333}, {1, 3000}, {3000, 2}}) {
    for (const char* mode : {"crop", "squash"}) {
      SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " " + mode);
      std::vector<std::uint8_t> square(224 * 224 * 3, 0x55);
      ASSERT_TRUE(
          PictureFitter::draw(test::solidPicture(w, h, {0, 0, 0}), 224, mode, square.data()));
      EXPECT_EQ(std::count(square.begin(), square.end(), 0), static_cast<long>(square.size()));
    }
  }
}

TEST(PictureFitter, InvalidPicturesAreRefused) {
  std::vector<std::uint8_t> square(16 * 16 * 3);
  Picture shortRows{.width = 4, .height = 4, .rgb = std::vector<std::uint8_t>(4 * 4 * 3 - 3, 9)};
  EXPECT_FALSE(PictureFitter::draw(shortRows, 16, "crop", square.data()));
  EXPECT_FALSE(PictureFitter::draw(Picture{}, 16, "crop", square.data()));
  EXPECT_FALSE(PictureFitter::draw(Picture{.width = -2, .height = 3}, 16, "crop", square.data()));
  EXPECT_TRUE(PictureFitter::draw(test::solidPicture(4, 4, red), 16, "crop", square.data()));
  EXPECT_TRUE(near(pixel(square, 16, 8, 8), red));
}

}  // namespace
}  // namespace quillmere
