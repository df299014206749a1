// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "core/PictureFaces.h"
#include "core/PictureText.h"
#include "core/TextFolding.h"

namespace quillmere {
namespace {

TEST(TextFolding, CaseAccentsAndSpacesAreSetAside) {
  const std::pair<std::string, std::string> table[] = {
      {"PLATFORM 7 DEPARTURES", "platform7departures"},
      {"Café  Crème\tÉté\n", "cafecremeete"},
      {"Straße", "strasse"},                    // full case folding
      {"İSTANBUL Ünïcödé", "istanbulunicode"},  // the dot above goes with the marks
      {"Ångström ΣΊΣΥΦΟΣ", "angstromσισυφοσ"},
      {"e\u0301", "e"},              // decomposed already
      {"RE16\u00A0XYZ", "re16xyz"},  // a no-break space is a space
      {"北京 站", "北京站"},
      {"a\xff", "a\uFFFD"},
      {"", ""},
  };
  for (const auto& [text, folded] : table) EXPECT_EQ(TextFolding::folded(text), folded) << text;
}

TEST(PictureText, EncodedBytesReadBackAndDamagedOnesAsNoText) {
  const PictureText text{
      .lines = {{.text = "Happy Birthday",
                 .box = {{{0.1f, 0.2f}, {0.5f, 0.2f}, {0.5f, 0.3f}, {0.1f, 0.3f}}},
                 .confidence = 0.93f},
                {.text = "北京", .confidence = 0.5f}},
      .capped = true};
  const auto bytes = text.encoded();
  EXPECT_EQ(PictureText::decoded(bytes), text);
  EXPECT_EQ(PictureText::decoded(PictureText{}.encoded()), PictureText{});
  std::vector<std::vector<std::uint8_t>> damaged = {
      {}, {0xFF, 0x00, 0x13}, std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 5)};
  damaged.push_back(bytes);
  damaged.back()[1] = 2;  // a version this build does not know
  damaged.push_back(bytes);
  damaged.back()[bytes.size() / 2] ^= 0xFF;
  for (const auto& bad : damaged) {
    const PictureText read = PictureText::decoded(bad);
    EXPECT_TRUE(read == PictureText{} || read.lines.size() <= text.lines.size());
  }
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(PictureText::decoded(damaged[i]), PictureText{});
  EXPECT_EQ(PictureText::decoded(damaged[3]), PictureText{});
}

TEST(PictureFaces, EncodedBytesReadBackAndDamagedOnesAsNoFaces) {
  FaceRecord face{.box = {{{0.1f, 0.2f}, {0.3f, 0.5f}}}, .score = 0.9f, .quality = 0.7f};
  face.keypoints[2] = {0.2f, 0.35f};
  face.vector = halvesFromFloats(std::vector<float>{0.6f, -0.8f, 0.0f});
  const PictureFaces found{.faces = {face, FaceRecord{}}, .capped = true};
  const auto bytes = found.encoded();
  EXPECT_EQ(PictureFaces::decoded(bytes), found);
  auto newer = bytes;
  newer[1] = 2;
  const std::vector<std::vector<std::uint8_t>> damaged = {
      {}, std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 3), newer};
  for (const auto& bad : damaged) EXPECT_EQ(PictureFaces::decoded(bad), PictureFaces{});
}

}  // namespace
}  // namespace quillmere
