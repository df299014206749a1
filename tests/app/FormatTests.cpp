// SPDX-License-Identifier: GPL-3.0-or-later
// The short texts of numbers, durations and byte counts, in English and in a locale whose
// decimal separator is a comma; and the tile width preference.
#include <gtest/gtest.h>

#include <QSettings>
#include <QSignalSpy>
#include <functional>
#include <string>

#include "Format.h"
#include "Tiles.h"
#include "support/TempDirectory.h"

namespace quillmere::test {
namespace {

struct FormatCase {
  std::string name;
  std::function<QString(const QLocale&)> format;
  QString english;
  QString german;
};

class FormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatTest, GivesTheTextInTheLocale) {
  const FormatCase& c = GetParam();
  EXPECT_EQ(c.format(QLocale(QLocale::English, QLocale::UnitedStates)).toStdString(),
            c.english.toStdString());
  EXPECT_EQ(c.format(QLocale(QLocale::German, QLocale::Germany)).toStdString(),
            c.german.toStdString());
}

FormatCase row(std::string name, std::function<QString(const QLocale&)> format, const char* english,
               const char* german) {
  return {std::move(name), std::move(format), QString::fromUtf8(english),
          QString::fromUtf8(german)};
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FormatTest,
    ::testing::Values(
        row(
            "decimalBelowTen", [](auto& l) { return Format::decimal(2.46, l); }, "2.5", "2,5"),
        row(
            "decimalFromTen", [](auto& l) { return Format::decimal(12.6, l); }, "13", "13"),
        row(
            "decimalNearTen", [](auto& l) { return Format::decimal(9.96, l); }, "10.0", "10,0"),
        row(
            "timeLeftUnderAMinute", [](auto& l) { return Format::timeLeft(59, l); },
            "less than a minute left", "less than a minute left"),
        row(
            "timeLeftMinutesRounded", [](auto& l) { return Format::timeLeft(90, l); },
            "about 2 min left", "about 2 min left"),
        row(
            "timeLeftLastMinuteOfTheHour", [](auto& l) { return Format::timeLeft(3599, l); },
            "about 60 min left", "about 60 min left"),
        row(
            "timeLeftHours", [](auto& l) { return Format::timeLeft(5400, l); }, "about 1.5 h left",
            "about 1,5 h left"),
        row(
            "bytesInMegabytes", [](auto& l) { return Format::bytesShort(2.4e6, 512.6e6, l); },
            "2 of 513 MB", "2 of 513 MB"),
        row(
            "bytesOfAnEmptyTotal", [](auto& l) { return Format::bytesShort(0, 0, l); }, "0 of 1 MB",
            "0 of 1 MB"),
        row(
            "bytesInGigabytes", [](auto& l) { return Format::bytesShort(0.75e9, 12.3e9, l); },
            "0.8 of 12 GB", "0,8 of 12 GB"),
        row(
            "bytesGrouped", [](auto& l) { return Format::bytesShort(1234e6, 999.9e6, l); },
            "1,234 of 1,000 MB", "1.234 of 1.000 MB"),
        row(
            "hoursAtLeastAMinute", [](auto& l) { return Format::hours(20, l); }, "1 min", "1 min"),
        row(
            "hoursInMinutes", [](auto& l) { return Format::hours(1770, l); }, "30 min", "30 min"),
        row(
            "hoursAndAHalf", [](auto& l) { return Format::hours(5400, l); }, "1.5 h", "1,5 h"),
        row(
            "hoursWhole", [](auto& l) { return Format::hours(43200, l); }, "12 h", "12 h"),
        row(
            "summaryWhileNothingIsIndexed", [](auto& l) { return Format::summary(0, 0, 0, l); },
            "Your library is being indexed", "Your library is being indexed"),
        row(
            "summaryOfOnePhoto", [](auto& l) { return Format::summary(1, 1, 0, l); },
            "1 photo ready to search", "1 photo ready to search"),
        row(
            "summaryOfPhotosAndVideo", [](auto& l) { return Format::summary(5, 4, 5400, l); },
            "4 photos and 1.5 h of video ready to search",
            "4 photos and 1,5 h of video ready to search"),
        row(
            "momentsOfOne", [](auto&) { return Format::moments(1, 12.4); }, "1 moment · 12 ms",
            "1 moment · 12 ms"),
        row(
            "momentsLikelyWithWhatIsApplied",
            [](auto&) {
              return Format::moments(300, 40.6, true, {"this month", "newest first"});
            },
            "300 likely matches · this month · newest first · 41 ms",
            "300 likely matches · this month · newest first · 41 ms"),
        row(
            "playerTimecode", [](auto&) { return Format::timecode(3 * 3600 + 25 * 60 + 7.9); },
            "03:25:07", "03:25:07")),
    [](const auto& info) { return info.param.name; });

class TilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString(settings_.path().string()));
  }
  TempDirectory settings_;
};

TEST_F(TilesTest, ZoomKeepsTheWidthInItsRangeAndStoresIt) {
  Tiles tiles;
  EXPECT_DOUBLE_EQ(tiles.tileWidth(), 210);
  QSignalSpy changed(&tiles, &Tiles::tileWidthChanged);
  tiles.zoom(1.15);
  EXPECT_NEAR(tiles.tileWidth(), 241.5, 1e-9);
  EXPECT_NEAR(Tiles().tileWidth(), 241.5, 1e-9);
  EXPECT_EQ(changed.count(), 1);
  tiles.setTileWidth(400);
  tiles.zoom(1.15);
  EXPECT_DOUBLE_EQ(tiles.tileWidth(), 420);
  tiles.zoom(0.01);
  EXPECT_DOUBLE_EQ(tiles.tileWidth(), 130);
}

TEST_F(TilesTest, AStoredValueThatIsNoNumberReadsAsTheDefault) {
  QSettings().setValue("tileWidth", "wide");
  Tiles tiles;
  EXPECT_DOUBLE_EQ(tiles.tileWidth(), 210);
  tiles.zoom(1 / 1.15);
  EXPECT_NEAR(tiles.tileWidth(), 210 / 1.15, 1e-9);
}

}  // namespace
}  // namespace quillmere::test
