// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "export/MarkerExport.h"
#include "platform/MediaProbe.h"
#include "scan/Timecode.h"
#include "support/TempDirectory.h"

namespace quillmere {
namespace {

using Media = MarkerExport::Media;
using Rate = MarkerExport::Rate;

std::string quoted(const std::filesystem::path& path) {
  return "'" + path.string() + "'";
}

void run(const std::string& command) {
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Standard output of a command; the test fails when it exits non-zero.
std::string output(const std::string& command) {
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    ADD_FAILURE() << "cannot run " << command;
    return text;
  }
  char buffer[4096];
  std::size_t read = 0;
  while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, read);
  EXPECT_EQ(pclose(pipe), 0) << command;
  return text;
}

void write(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  ASSERT_TRUE(out.good()) << path;
}

std::string hex(const std::string& bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out += digits[static_cast<unsigned char>(c) >> 4];
    out += digits[static_cast<unsigned char>(c) & 0xF];
  }
  return out;
}

class RealExport : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = std::make_unique<test::TempDirectory>();
    const std::string ffmpeg = "ffmpeg -nostdin -hide_banner -loglevel error -y ";
    // Landscape, 25 fps, with sound.
    run(ffmpeg + "-f lavfi -i testsrc=size=320x240:rate=25:duration=2 " +
        "-f lavfi -i sine=frequency=440:duration=2 -shortest -c:v mpeg4 -c:a aac " +
        quoted(*folder_ / "wide.mp4"));
    // 29.97 fps, stored 64x48 and shown upright as 48x64 through its display matrix.
    run(ffmpeg + "-f lavfi -i testsrc=size=64x48:rate=30000/1001:duration=2 -c:v mpeg4 " +
        quoted(*folder_ / "stored.mp4"));
    run(ffmpeg + "-i " + quoted(*folder_ / "stored.mp4") + " -c copy -metadata:s:v:0 rotate=90 " +
        quoted(*folder_ / "portrait.mp4"));
    run(ffmpeg + "-f lavfi -i sine=frequency=440:duration=2 -c:a aac " +
        quoted(*folder_ / "sound.m4a"));
    write(*folder_ / "junk.mp4", "this is not a movie\n");
  }
  static void TearDownTestSuite() { folder_.reset(); }

  static std::filesystem::path file(const std::string& name) { return *folder_ / name; }

  static std::unique_ptr<test::TempDirectory> folder_;
};

std::unique_ptr<test::TempDirectory> RealExport::folder_;

TEST_F(RealExport, ProbeReadsRateSizeDurationAndSound) {
  const Media wide = MarkerExport::media(file("wide.mp4"));
  EXPECT_EQ(wide.rate, (Rate{1, 25}));
  EXPECT_EQ(wide.width, 320);
  EXPECT_EQ(wide.height, 240);
  EXPECT_NEAR(wide.duration, 2.0, 0.1);
  EXPECT_TRUE(wide.hasAudio);

  const Media portrait = MarkerExport::media(file("portrait.mp4"));
  EXPECT_EQ(portrait.rate, (Rate{1001, 30000}));
  EXPECT_EQ(portrait.width, 48);
  EXPECT_EQ(portrait.height, 64);
  EXPECT_NEAR(portrait.duration, 2.0, 0.1);
  EXPECT_FALSE(portrait.hasAudio);

  const MediaProbe::Info stored = MediaProbe::read(file("stored.mp4"));
  ASSERT_TRUE(stored.video);
  EXPECT_EQ(stored.video->width, 64);
  EXPECT_EQ(stored.video->height, 48);
  EXPECT_NEAR(stored.video->frameRate, 30000.0 / 1001.0, 1e-6);
  EXPECT_EQ(stored.video->transform, (std::array<double, 4>{1, 0, 0, 1}));
  const MediaProbe::Info turned = MediaProbe::read(file("portrait.mp4"));
  ASSERT_TRUE(turned.video);
  EXPECT_EQ(turned.video->width, 64);
  EXPECT_EQ(std::abs(turned.video->transform[1]), 1.0);
  EXPECT_EQ(std::abs(turned.video->transform[2]), 1.0);
}

TEST_F(RealExport, ProbeFallsBackToDefaults) {
  // Sound only: no video track, but the duration and the sound are still found.
  const Media sound = MarkerExport::media(file("sound.m4a"));
  EXPECT_EQ(sound.rate, (Rate{1, 30}));
  EXPECT_EQ(sound.width, 1920);
  EXPECT_EQ(sound.height, 1080);
  EXPECT_NEAR(sound.duration, 2.0, 0.1);
  EXPECT_TRUE(sound.hasAudio);

  EXPECT_EQ(MarkerExport::media(file("junk.mp4")), Media{});
  EXPECT_EQ(MarkerExport::media(file("missing.mp4")), Media{});
  EXPECT_EQ(MarkerExport::media(folder_->path()), Media{});
  // Cut before its index: nothing but the defaults can be trusted.
  {
    std::ifstream in(file("wide.mp4"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    write(file("cut.mp4"), bytes.substr(0, bytes.size() / 2));
  }
  EXPECT_EQ(MarkerExport::media(file("cut.mp4")).rate, (Rate{1, 30}));
  EXPECT_EQ(MarkerExport::media(file("cut.mp4")).width, 1920);
  // A pipe would block a reader forever.
  ASSERT_EQ(mkfifo(file("pipe.mp4").c_str(), 0600), 0);
  EXPECT_EQ(MarkerExport::media(file("pipe.mp4")), Media{});
  const MediaProbe::Info nothing = MediaProbe::read(file("missing.mp4"));
  EXPECT_FALSE(nothing.tracksLoaded);
  EXPECT_FALSE(nothing.duration);
}

TEST_F(RealExport, NamesThatLookLikeProtocolsAreStillFiles) {
  const auto folder = file("pipe:0");
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(file("wide.mp4"), folder / "concat:a.mp4");
  EXPECT_EQ(MarkerExport::media(folder / "concat:a.mp4").width, 320);
}

TEST_F(RealExport, DocumentAndTableReadBackWithTheSameValues) {
  // Hostile names: quotes, markup, an ampersand, a line break and a byte that is not UTF-8.
  const std::string wideName = "Beach \"day\" <1> & more\n\xFF.mp4";
  const std::string portraitName = "night 'cam' 100%.mp4";
  const auto videos = file("videos");
  std::filesystem::create_directories(videos);
  std::filesystem::copy_file(file("wide.mp4"), videos / wideName);
  std::filesystem::copy_file(file("portrait.mp4"), videos / portraitName);
  const auto wide = videos / wideName;
  const auto portrait = videos / portraitName;
  const std::string title = "Trip: \"2024\" <best> & more";
  const std::vector<MarkerExport::Moment> moments{
      {portrait, 1.0, 5.0, "cat & <dog>"},
      {wide, 0.5, 5.0, "say \"cheese\"\nnow \xFF"},
      {wide, 1.5, 5.0, "it's\x01\tend"},
  };
  const std::string text = MarkerExport::fcpxml(moments, title, 2.5);
  write(file("export.fcpxml"), text);
  run("xmllint --noout " + quoted(file("export.fcpxml")));

  const std::vector<MarkerExport::Row> rows{{wide.string(), 3725.6, 0.25f},
                                            {portrait.string(), 1.004, 0.31f}};
  write(file("export.csv"), MarkerExport::csv(rows));

  const auto read = nlohmann::json::parse(
      output(std::string(QUILLMERE_PYTHON) + " " +
             quoted(std::filesystem::path(QUILLMERE_SOURCE_DIR) / "tests/export/read_export.py") +
             " " + quoted(file("export.fcpxml")) + " " + quoted(file("export.csv"))));
  const auto& document = read.at("fcpxml");
  EXPECT_EQ(document.at("version"), "1.9");
  EXPECT_EQ(document.at("event"), title);
  EXPECT_EQ(document.at("project"), title);

  // "B" sorts before "n": the landscape file comes first.
  const auto& formats = document.at("formats");
  ASSERT_EQ(formats.size(), 2u);
  EXPECT_EQ(formats[0],
            (nlohmann::json{
                {"id", "r1"}, {"frameDuration", "1/25s"}, {"width", "320"}, {"height", "240"}}));
  EXPECT_EQ(
      formats[1],
      (nlohmann::json{
          {"id", "r2"}, {"frameDuration", "1001/30000s"}, {"width", "48"}, {"height", "64"}}));

  const Media wideMedia = MarkerExport::media(wide);
  const Media portraitMedia = MarkerExport::media(portrait);
  const auto& assets = document.at("assets");
  ASSERT_EQ(assets.size(), 2u);
  EXPECT_EQ(assets[0].at("id"), "r3");
  EXPECT_EQ(assets[0].at("name"), "Beach \"day\" <1> & more\n\xEF\xBF\xBD");
  EXPECT_EQ(assets[0].at("path_hex"), hex(wide.string()));
  EXPECT_EQ(assets[0].at("hasAudio"), "1");
  EXPECT_EQ(assets[0].at("format"), "r1");
  EXPECT_EQ(assets[0].at("duration"), wideMedia.rate.time(wideMedia.duration));
  EXPECT_EQ(assets[1].at("id"), "r4");
  EXPECT_EQ(assets[1].at("name"), "night 'cam' 100%");
  EXPECT_EQ(assets[1].at("path_hex"), hex(portrait.string()));
  EXPECT_EQ(assets[1].at("hasAudio"), "0");
  EXPECT_EQ(assets[1].at("format"), "r2");
  EXPECT_EQ(assets[1].at("duration"), portraitMedia.rate.time(portraitMedia.duration));
  for (const auto& asset : assets) {
    EXPECT_EQ(asset.at("scheme"), "file");
    EXPECT_EQ(asset.at("host"), "");
    EXPECT_EQ(asset.at("reps"), 1);
    EXPECT_EQ(asset.at("hasVideo"), "1");
    EXPECT_EQ(asset.at("start"), "0s");
  }

  // The sequence follows the first moment's (portrait, 29.97 fps) file.
  EXPECT_EQ(document.at("sequence").at("format"), "r2");
  const auto& clips = document.at("clips");
  ASSERT_EQ(clips.size(), 3u);
  const char* refs[] = {"r4", "r3", "r3"};
  const char* labels[] = {"cat & <dog>", "say \"cheese\"\nnow \xEF\xBF\xBD",
                          "it's\xEF\xBF\xBD\tend"};
  for (std::size_t i = 0; i < clips.size(); ++i) {
    EXPECT_EQ(clips[i].at("ref"), refs[i]);
    EXPECT_EQ(clips[i].at("tcFormat"), "NDF");
    ASSERT_EQ(clips[i].at("markers").size(), 1u);
    EXPECT_EQ(clips[i].at("markers")[0].at("value"), labels[i]);
  }
  // Clips run from the handle before the moment to the end of the two-second media.
  EXPECT_EQ(clips[0].at("offset"), "0s");
  EXPECT_EQ(clips[0].at("start"), "0s");
  EXPECT_EQ(clips[0].at("duration"), portraitMedia.rate.time(portraitMedia.duration));
  EXPECT_EQ(clips[0].at("markers")[0].at("start"), "30030/30000s");
  EXPECT_EQ(clips[0].at("markers")[0].at("duration"), "1001/30000s");
  EXPECT_EQ(clips[1].at("start"), "0s");
  EXPECT_EQ(clips[1].at("markers")[0].at("start"), "13/25s");  // 12.5 frames round up
  EXPECT_EQ(clips[1].at("markers")[0].at("duration"), "1/25s");
  EXPECT_EQ(clips[2].at("markers")[0].at("start"), "38/25s");

  const nlohmann::json table = read.at("csv");
  EXPECT_EQ(table, (nlohmann::json{
                       {"File", "Timecode", "Seconds", "Score"},
                       {MarkerExport::fileURL(videos / wideName), "01:02:05", "3725.60", "0.250"},
                       {portrait.string(), "00:00:01", "1.00", "0.310"}}));
}

}  // namespace
}  // namespace quillmere
