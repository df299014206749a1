// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/ModelFixtures.h"

#include <cmath>

namespace quillmere::test {
namespace {

std::vector<float> unit(std::vector<double> values) {
  double sum = 0;
  for (double v : values) sum += v * v;
  std::vector<float> out;
  for (double v : values) out.push_back(static_cast<float>(sum > 0 ? v / std::sqrt(sum) : 0));
  return out;
}

}  // namespace

float fixtureWeight(int channel, int j) {
  return static_cast<float>(((channel + 1) * (j + 2)) % 7 - 3);
}

float fixtureTable(int token, int j) {
  return static_cast<float>((token * 5 + j * 3) % 11 - 5);
}

std::filesystem::path fixtureDirectory(const std::string& testCase) {
  return std::filesystem::path(QUILLMERE_TEST_MODELS_DIR) / testCase;
}

void copyFixture(const std::string& testCase, const std::filesystem::path& into,
                 std::initializer_list<std::string> leaveOut) {
  std::filesystem::create_directories(into);
  for (const auto& entry : std::filesystem::directory_iterator(fixtureDirectory(testCase))) {
    std::string name = entry.path().filename().string();
    bool skip = false;
    for (const std::string& left : leaveOut) skip = skip || left == name;
    if (!skip) {
      std::filesystem::copy_file(entry.path(), into / name,
                                 std::filesystem::copy_options::overwrite_existing);
    }
  }
}

Picture solidPicture(int width, int height, std::array<std::uint8_t, 3> rgb) {
  Picture picture{.width = width, .height = height};
  picture.rgb.reserve(static_cast<std::size_t>(width) * height * 3);
  for (int i = 0; i < width * height; ++i)
    picture.rgb.insert(picture.rgb.end(), rgb.begin(), rgb.end());
  return picture;
}

std::vector<float> tinyImageVector(std::array<std::uint8_t, 3> rgb) {
  std::vector<double> values(fixtureDim, 0);
  for (int j = 0; j < fixtureDim; ++j) {
    for (int c = 0; c < 3; ++c) values[j] += rgb[c] / 255.0 * fixtureWeight(c, j);
  }
  return unit(values);
}

std::vector<float> tinyTextVector(const std::vector<std::int32_t>& ids) {
  std::vector<double> values(fixtureDim, 0);
  for (std::int32_t id : ids) {
    for (int j = 0; j < fixtureDim; ++j) values[j] += fixtureTable(id, j);
  }
  return unit(values);
}

}  // namespace quillmere::test
