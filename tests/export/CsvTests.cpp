// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <locale>
#include <string>

#include "export/MarkerExport.h"
#include "support/TempDirectory.h"

namespace quillmere {
namespace {

using Row = MarkerExport::Row;

TEST(MarkerCsv, HeaderAloneForNoRows) {
  EXPECT_EQ(MarkerExport::csv({}), "File,Timecode,Seconds,Score\n");
}

TEST(MarkerCsv, RowsInGivenOrderWithTimecodesAndFixedDecimals) {
  const std::string text = MarkerExport::csv({
      {"/v/b.mov", 3725.6, 0.25f},
      {"/v/a.mov", 0, 0.3126f},
      {"/v/a.mov", 59.999, 1.0f},
      {"/v/long.mov", 360000.004, 0.0004f},
  });
  EXPECT_EQ(text,
            "File,Timecode,Seconds,Score\n"
            "\"/v/b.mov\",01:02:05,3725.60,0.250\n"
            "\"/v/a.mov\",00:00:00,0.00,0.313\n"
            "\"/v/a.mov\",00:00:59,60.00,1.000\n"
            "\"/v/long.mov\",100:00:00,360000.00,0.000\n");
}

TEST(MarkerCsv, QuotesDoubledAndLineBreaksKeptInsideTheField) {
  EXPECT_EQ(MarkerExport::csv({{"/v/say \"hi\",\nthere.mov", 1.5, 0.5f}}),
            "File,Timecode,Seconds,Score\n"
            "\"/v/say \"\"hi\"\",\nthere.mov\",00:00:01,1.50,0.500\n");
}

TEST(MarkerCsv, APathThatIsNotUtf8IsWrittenAsItsFileURL) {
  EXPECT_EQ(MarkerExport::csv({{std::string("/v/\xFF\0x\xC3\xA9.mov", 12), 2, 0.5f},
                               {std::string("/v/a\0\xC3\xA9.mov", 11), 2, 0.5f}}),
            "File,Timecode,Seconds,Score\n"
            "\"file:///v/%FF%00x%C3%A9.mov\",00:00:02,2.00,0.500\n"
            "\"/v/a\xEF\xBF\xBD\xC3\xA9.mov\",00:00:02,2.00,0.500\n");
}

// Puts the process in a German number locale for one test and restores the C locale after.
class GermanNumbers {
 public:
  explicit GermanNumbers(const std::filesystem::path& folder) {
    active_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    if (!active_) {
      // Built from the system's locale sources when the machine has none installed.
      const std::string command =
          "localedef -i de_DE -f UTF-8 '" + (folder / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
      if (std::system(command.c_str()) == 0) {
        setenv("LOCPATH", folder.c_str(), 1);
        active_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
      }
    }
    if (active_) {
      char probe[16];
      std::snprintf(probe, sizeof probe, "%.2f", 3.5);
      active_ = std::string(probe) == "3,50";
    }
    // Streams too, in case anything formats through them.
    previous_ = std::locale::global(std::locale(std::locale::classic(), new Comma));
  }
  ~GermanNumbers() {
    std::locale::global(previous_);
    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
  }
  bool active() const { return active_; }

 private:
  struct Comma : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
  };
  bool active_ = false;
  std::locale previous_;
};

TEST(MarkerCsv, NumbersIgnoreTheUsersLocale) {
  test::TempDirectory folder;
  GermanNumbers german(folder.path());
  if (!german.active()) GTEST_SKIP() << "no German locale can be made on this machine";
  EXPECT_EQ(MarkerExport::csv({{"/v/a.mov", 3725.6, 0.25f}, {"/v/b.mov", 12345.678, 0.5f}}),
            "File,Timecode,Seconds,Score\n"
            "\"/v/a.mov\",01:02:05,3725.60,0.250\n"
            "\"/v/b.mov\",03:25:45,12345.68,0.500\n");
  const std::string document = MarkerExport::fcpxml(
      {{"/v/a.mov", 1234.5, 0, "x"}}, "t", 2.5,
      {{"/v/a.mov", {.rate = {1001, 30000}, .width = 3840, .height = 2160, .duration = 4000}}});
  EXPECT_NE(document.find("<asset id=\"r2\" name=\"a\" start=\"0s\" duration=\"119999880/30000s\""),
            std::string::npos)
      << document;
  EXPECT_NE(document.find("width=\"3840\" height=\"2160\""), std::string::npos);
  EXPECT_NE(document.find("<marker start=\"37034998/30000s\""), std::string::npos) << document;
}

}  // namespace
}  // namespace quillmere
