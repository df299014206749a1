// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "export/MarkerExport.h"

namespace quillmere {
namespace {

using Media = MarkerExport::Media;
using Moment = MarkerExport::Moment;
using Rate = MarkerExport::Rate;

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) {
      out.push_back(text.substr(begin));
      break;
    }
    out.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return out;
}

std::vector<std::string> linesContaining(const std::string& text, const std::string& part) {
  std::vector<std::string> out;
  for (const std::string& line : lines(text)) {
    if (line.find(part) != std::string::npos) out.push_back(line);
  }
  return out;
}

const Media pal60{.rate = {1, 25}, .width = 1920, .height = 1080, .duration = 60, .hasAudio = true};

TEST(MarkerDocument, OneMomentAtTwentyFiveFrames) {
  const std::vector<Moment> moments{{"/Volumes/Shoot/clip.mov", 1.0, 0, "dog"}};
  const std::string text =
      MarkerExport::fcpxml(moments, "dog", 2.5, {{"/Volumes/Shoot/clip.mov", pal60}});
  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE fcpxml>\n"
      "<fcpxml version=\"1.9\">\n"
      "  <resources>\n"
      "    <format id=\"r1\" frameDuration=\"1/25s\" width=\"1920\" height=\"1080\"/>\n"
      "    <asset id=\"r2\" name=\"clip\" start=\"0s\" duration=\"1500/25s\" hasVideo=\"1\" "
      "hasAudio=\"1\" format=\"r1\">\n"
      "      <media-rep kind=\"original-media\" src=\"file:///Volumes/Shoot/clip.mov\"/>\n"
      "    </asset>\n"
      "  </resources>\n"
      "  <library>\n"
      "    <event name=\"dog\">\n"
      "      <project name=\"dog\">\n"
      "        <sequence format=\"r1\" duration=\"88/25s\" tcStart=\"0s\" tcFormat=\"NDF\">\n"
      "          <spine>\n"
      "            <asset-clip ref=\"r2\" name=\"clip\" offset=\"0s\" start=\"0s\" "
      "duration=\"88/25s\" tcFormat=\"NDF\">\n"
      "              <marker start=\"25/25s\" duration=\"1/25s\" value=\"dog\"/>\n"
      "            </asset-clip>\n"
      "          </spine>\n"
      "        </sequence>\n"
      "      </project>\n"
      "    </event>\n"
      "  </library>\n"
      "</fcpxml>\n";
  EXPECT_EQ(text, expected);
}

TEST(MarkerDocument, TwoMomentsOfOneNtscFile) {
  const Media ntsc{.rate = {1001, 30000}, .width = 1280, .height = 720, .duration = 59};
  // The first moment runs into the end of the media, the second is sized by its duration.
  const std::vector<Moment> moments{{"/v/b.mp4", 58, 0, "sunset"}, {"/v/b.mp4", 10, 5, "sunset"}};
  const std::string text = MarkerExport::fcpxml(moments, "night & day", 2.5, {{"/v/b.mp4", ntsc}});
  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE fcpxml>\n"
      "<fcpxml version=\"1.9\">\n"
      "  <resources>\n"
      "    <format id=\"r1\" frameDuration=\"1001/30000s\" width=\"1280\" height=\"720\"/>\n"
      "    <asset id=\"r2\" name=\"b\" start=\"0s\" duration=\"1769768/30000s\" hasVideo=\"1\" "
      "hasAudio=\"0\" format=\"r1\">\n"
      "      <media-rep kind=\"original-media\" src=\"file:///v/b.mp4\"/>\n"
      "    </asset>\n"
      "  </resources>\n"
      "  <library>\n"
      "    <event name=\"night &amp; day\">\n"
      "      <project name=\"night &amp; day\">\n"
      "        <sequence format=\"r1\" duration=\"330330/30000s\" tcStart=\"0s\" "
      "tcFormat=\"NDF\">\n"
      "          <spine>\n"
      "            <asset-clip ref=\"r2\" name=\"b\" offset=\"0s\" start=\"1664663/30000s\" "
      "duration=\"105105/30000s\" tcFormat=\"NDF\">\n"
      "              <marker start=\"1739738/30000s\" duration=\"1001/30000s\" "
      "value=\"sunset\"/>\n"
      "            </asset-clip>\n"
      "            <asset-clip ref=\"r2\" name=\"b\" offset=\"105105/30000s\" "
      "start=\"225225/30000s\" duration=\"225225/30000s\" tcFormat=\"NDF\">\n"
      "              <marker start=\"300300/30000s\" duration=\"1001/30000s\" "
      "value=\"sunset\"/>\n"
      "            </asset-clip>\n"
      "          </spine>\n"
      "        </sequence>\n"
      "      </project>\n"
      "    </event>\n"
      "  </library>\n"
      "</fcpxml>\n";
  EXPECT_EQ(text, expected);
}

TEST(MarkerDocument, FormatsSharedAndAssetsInPathOrder) {
  const Media ntsc{.rate = {1001, 30000}, .width = 1920, .height = 1080, .duration = 20};
  const Media pal = {.rate = {1, 25}, .width = 1920, .height = 1080, .duration = 20};
  // Plain string order puts "a-b.mov" before the folder "a/" ('-' sorts before '/').
  const std::vector<Moment> moments{{"/m/b.mov", 5, 0, "x"},
                                    {"/m/c.mov", 5, 0, "x"},
                                    {"/m/a/x.mov", 5, 0, "x"},
                                    {"/m/a-b.mov", 5, 0, "x"},
                                    {"/m/b.mov", 15, 0, "x"}};
  const std::string text = MarkerExport::fcpxml(
      moments, "t", 2.5,
      {{"/m/b.mov", pal}, {"/m/c.mov", ntsc}, {"/m/a/x.mov", pal}, {"/m/a-b.mov", pal}});
  EXPECT_EQ(linesContaining(text, "<format "),
            (std::vector<std::string>{
                "    <format id=\"r1\" frameDuration=\"1/25s\" width=\"1920\" height=\"1080\"/>",
                "    <format id=\"r2\" frameDuration=\"1001/30000s\" width=\"1920\" "
                "height=\"1080\"/>"}));
  EXPECT_EQ(linesContaining(text, "<media-rep "),
            (std::vector<std::string>{
                "      <media-rep kind=\"original-media\" src=\"file:///m/a-b.mov\"/>",
                "      <media-rep kind=\"original-media\" src=\"file:///m/a/x.mov\"/>",
                "      <media-rep kind=\"original-media\" src=\"file:///m/b.mov\"/>",
                "      <media-rep kind=\"original-media\" src=\"file:///m/c.mov\"/>"}));
  const auto assets = linesContaining(text, "<asset ");
  ASSERT_EQ(assets.size(), 4u);
  EXPECT_NE(assets[0].find("id=\"r3\" name=\"a-b\""), std::string::npos);
  EXPECT_NE(assets[1].find("id=\"r4\" name=\"x\""), std::string::npos);
  EXPECT_NE(assets[2].find("id=\"r5\" name=\"b\""), std::string::npos);
  EXPECT_NE(assets[3].find("id=\"r6\" name=\"c\""), std::string::npos);
  EXPECT_NE(assets[3].find("format=\"r2\""), std::string::npos);
  EXPECT_NE(assets[0].find("format=\"r1\""), std::string::npos);

  // Clips keep the moments' order; the sequence takes the first moment's file.
  const auto clips = linesContaining(text, "<asset-clip ");
  ASSERT_EQ(clips.size(), 5u);
  const char* refs[] = {"ref=\"r5\"", "ref=\"r6\"", "ref=\"r4\"", "ref=\"r3\"", "ref=\"r5\""};
  for (std::size_t i = 0; i < clips.size(); ++i) {
    EXPECT_NE(clips[i].find(refs[i]), std::string::npos) << clips[i];
  }
  // Every clip lasts 5 s, the NTSC one too: 125 of the 25 fps sequence's frames, in which
  // its offset and duration are written so that it ends where the next clip starts.
  EXPECT_NE(clips[1].find("offset=\"125/25s\" start=\"75075/30000s\" duration=\"125/25s\""),
            std::string::npos)
      << clips[1];
  EXPECT_NE(clips[4].find("offset=\"500/25s\""), std::string::npos) << clips[4];
  EXPECT_NE(text.find("<sequence format=\"r1\" duration=\"625/25s\""), std::string::npos)
      << "the sequence takes the first moment's file, /m/b.mov";
}

TEST(MarkerDocument, SameRateDifferentSizeIsAnotherFormat) {
  const Media wide{.rate = {1, 25}, .width = 1920, .height = 1080, .duration = 9};
  const Media tall{.rate = {1, 25}, .width = 1080, .height = 1920, .duration = 9};
  const std::string text = MarkerExport::fcpxml({{"/a.mp4", 3, 0, "x"}, {"/b.mp4", 3, 0, "x"}}, "t",
                                                2.5, {{"/a.mp4", wide}, {"/b.mp4", tall}});
  EXPECT_EQ(linesContaining(text, "<format ").size(), 2u);
  EXPECT_NE(text.find("id=\"r2\" frameDuration=\"1/25s\" width=\"1080\" height=\"1920\""),
            std::string::npos);
  EXPECT_NE(
      text.find("<asset id=\"r4\" name=\"b\" start=\"0s\" duration=\"225/25s\" hasVideo=\"1\" "
                "hasAudio=\"0\" format=\"r2\">"),
      std::string::npos);
}

TEST(MarkerDocument, SequenceFollowsTheFirstMoment) {
  const Media ntsc{.rate = {1001, 30000}, .width = 1920, .height = 1080, .duration = 20};
  const Media pal = {.rate = {1, 25}, .width = 1920, .height = 1080, .duration = 20};
  // z.mov sorts last, so its format is r2, but its moment comes first.
  const std::string text = MarkerExport::fcpxml({{"/z.mov", 5, 0, "x"}, {"/a.mov", 5, 0, "x"}}, "t",
                                                2.5, {{"/z.mov", ntsc}, {"/a.mov", pal}});
  EXPECT_NE(text.find("<sequence format=\"r2\" duration=\"300300/30000s\""), std::string::npos)
      << text;
  const auto clips = linesContaining(text, "<asset-clip ");
  ASSERT_EQ(clips.size(), 2u);
  EXPECT_NE(clips[1].find("ref=\"r3\" name=\"a\" offset=\"150150/30000s\" start=\"63/25s\" "
                          "duration=\"150150/30000s\""),
            std::string::npos)
      << clips[1];

  // 7.52 s of the 25 fps file (188 of its frames) is 225 of the sequence's: the next clip
  // starts where it ends, not 12.5 ms before.
  const auto mixed = linesContaining(
      MarkerExport::fcpxml({{"/z.mov", 5, 0, "x"}, {"/a.mov", 5, 5.02, "x"}, {"/z.mov", 9, 0, "x"}},
                           "t", 2.5, {{"/z.mov", ntsc}, {"/a.mov", pal}}),
      "<asset-clip ");
  ASSERT_EQ(mixed.size(), 3u);
  EXPECT_NE(mixed[1].find("offset=\"150150/30000s\" start=\"63/25s\" duration=\"225225/30000s\""),
            std::string::npos)
      << mixed[1];
  EXPECT_NE(mixed[2].find("offset=\"375375/30000s\""), std::string::npos) << mixed[2];
}

TEST(MarkerDocument, ClipLengthsAtTheEdgesOfTheMedia) {
  const Media pal59{.rate = {1, 25}, .width = 640, .height = 360, .duration = 59};
  const Media unknown{.rate = {1, 25}, .width = 640, .height = 360, .duration = 0};
  const std::string text = MarkerExport::fcpxml(
      {
          {"/a.mp4", 58, 0, "near the end"},   // start 55.5, end min(59, 60.5): 3.5 s
          {"/a.mp4", 70, 0, "past the end"},   // end before start: one frame
          {"/u.mp4", 4, 0, "unknown length"},  // media end taken as t + h: 2.5 + 2.5 s
      },
      "t", 2.5, {{"/a.mp4", pal59}, {"/u.mp4", unknown}});
  const auto clips = linesContaining(text, "<asset-clip ");
  ASSERT_EQ(clips.size(), 3u);
  EXPECT_NE(clips[0].find("offset=\"0s\" start=\"1388/25s\" duration=\"88/25s\""),
            std::string::npos)
      << clips[0];
  EXPECT_NE(clips[1].find("offset=\"88/25s\" start=\"1688/25s\" duration=\"1/25s\""),
            std::string::npos)
      << clips[1];
  EXPECT_NE(clips[2].find("offset=\"89/25s\" start=\"38/25s\" duration=\"125/25s\""),
            std::string::npos)
      << clips[2];
  EXPECT_NE(text.find("name=\"u\" start=\"0s\" duration=\"0s\""), std::string::npos);
  EXPECT_NE(text.find("<sequence format=\"r1\" duration=\"214/25s\""), std::string::npos);
}

TEST(MarkerDocument, FilesWithoutProbeResultsGetTheDefaults) {
  const std::string text = MarkerExport::fcpxml({{"/gone.mov", 1, 0, "x"}}, "t", 2.5, {});
  EXPECT_NE(text.find("<format id=\"r1\" frameDuration=\"1/30s\" width=\"1920\" height=\"1080\"/>"),
            std::string::npos);
  EXPECT_NE(text.find("duration=\"0s\" hasVideo=\"1\" hasAudio=\"0\" format=\"r1\""),
            std::string::npos);
  // No known media end: the clip runs to t + h = 3.5 s from 0.
  EXPECT_NE(text.find("offset=\"0s\" start=\"0s\" duration=\"105/30s\""), std::string::npos);
}

TEST(MarkerDocument, EmptyListStillNamesAnExistingFormat) {
  const std::string text = MarkerExport::fcpxml({}, "Nothing", 2.5, {});
  EXPECT_EQ(linesContaining(text, "<format "),
            (std::vector<std::string>{"    <format id=\"r1\" frameDuration=\"1/30s\" "
                                      "width=\"1920\" height=\"1080\"/>"}));
  EXPECT_NE(text.find("<sequence format=\"r1\" duration=\"0s\" tcStart=\"0s\" tcFormat=\"NDF\">\n"
                      "          <spine>\n"
                      "          </spine>\n"),
            std::string::npos);
  EXPECT_TRUE(linesContaining(text, "<asset").empty());
}

TEST(MarkerDocument, HostileLabelsAndNamesAreEscaped) {
  EXPECT_EQ(MarkerExport::escaped("<\"&>"), "&lt;&quot;&amp;&gt;");
  EXPECT_EQ(MarkerExport::escaped("it's"), "it's");
  EXPECT_EQ(MarkerExport::escaped("&amp;"), "&amp;amp;");
  EXPECT_EQ(MarkerExport::escaped("a\nb\r\tc"), "a&#10;b&#13;&#9;c");
  EXPECT_EQ(MarkerExport::escaped("caf\xC3\xA9 \xE2\x96\x81 \xF0\x9F\x90\x95"),
            "caf\xC3\xA9 \xE2\x96\x81 \xF0\x9F\x90\x95");
  // Ill-formed UTF-8 and characters XML 1.0 cannot carry become U+FFFD.
  EXPECT_EQ(MarkerExport::escaped("a\xFF"
                                  "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(MarkerExport::escaped("\xC3"), "\xEF\xBF\xBD");
  EXPECT_EQ(MarkerExport::escaped("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(MarkerExport::escaped(std::string("x\0y\x01\x1F", 5)),
            "x\xEF\xBF\xBDy\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(MarkerExport::escaped("\xEF\xBF\xBE"), "\xEF\xBF\xBD");  // U+FFFE

  const std::string text =
      MarkerExport::fcpxml({{"/m/\"q\" <&>\n.mov", 1, 0, "<\"&>"}}, "a \"b\" <c>", 2.5, {});
  EXPECT_NE(text.find("value=\"&lt;&quot;&amp;&gt;\"/>"), std::string::npos);
  EXPECT_NE(text.find("<event name=\"a &quot;b&quot; &lt;c&gt;\">"), std::string::npos);
  EXPECT_NE(text.find("name=\"&quot;q&quot; &lt;&amp;&gt;&#10;\""), std::string::npos);
  EXPECT_NE(text.find("src=\"file:///m/%22q%22%20%3C%26%3E%0A.mov\""), std::string::npos);
}

TEST(MarkerDocument, FileURLsArePercentEncoded) {
  EXPECT_EQ(MarkerExport::fileURL("/Users/a/b.mov"), "file:///Users/a/b.mov");
  EXPECT_EQ(MarkerExport::fileURL("/My Movies/Ferien 100%.mp4"),
            "file:///My%20Movies/Ferien%20100%25.mp4");
  EXPECT_EQ(MarkerExport::fileURL("/caf\xC3\xA9/x\xFF#?.mkv"), "file:///caf%C3%A9/x%FF%23%3F.mkv");
  EXPECT_EQ(MarkerExport::fileURL("/a~b_c-d.e"), "file:///a~b_c-d.e");
  const std::string relative = MarkerExport::fileURL("clip.mov");
  EXPECT_EQ(relative.rfind("file:///", 0), 0u);
  EXPECT_EQ(relative.substr(relative.size() - 9), "/clip.mov");
}

}  // namespace
}  // namespace quillmere
