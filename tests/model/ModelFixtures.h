// SPDX-License-Identifier: GPL-3.0-or-later
// The model suite's purpose-made model directories (made at build time by
// tools/make_test_models.py) and the numbers their graphs are built from.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/Picture.h"

namespace quillmere::test {

constexpr int fixtureDim = 8;
constexpr int fixtureImageSize = 32;

// tools/make_test_models.py's W and table.
float fixtureWeight(int channel, int j);
float fixtureTable(int token, int j);

std::filesystem::path fixtureDirectory(const std::string& testCase);
// Copies a fixture's files into `into`, leaving out the named ones.
void copyFixture(const std::string& testCase, const std::filesystem::path& into,
                 std::initializer_list<std::string> leaveOut = {});

// A picture of one colour.
Picture solidPicture(int width, int height, std::array<std::uint8_t, 3> rgb);
// The tiny image encoder's unit vector for a picture of one colour.
std::vector<float> tinyImageVector(std::array<std::uint8_t, 3> rgb);
// The tiny text encoder's unit vector for a sequence of ids.
std::vector<float> tinyTextVector(const std::vector<std::int32_t>& ids);

}  // namespace quillmere::test
