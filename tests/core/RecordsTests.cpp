// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>

#include "core/Records.h"
#include "scan/Timecode.h"

namespace quillmere {
namespace {

TEST(Records, StoredEnumsReadBackWithDefaults) {
  EXPECT_EQ(mediaKindFromRaw(0), MediaKind::photo);
  EXPECT_EQ(mediaKindFromRaw(1), MediaKind::video);
  EXPECT_EQ(mediaKindFromRaw(7), std::nullopt);
  EXPECT_EQ(mediaKindFromColumn(7), MediaKind::photo);
  EXPECT_EQ(mediaKindFromColumn(-1), MediaKind::photo);
  EXPECT_EQ(fileStateFromRaw(2), FileState::failed);
  EXPECT_EQ(fileStateFromRaw(3), std::nullopt);
  EXPECT_EQ(fileStateFromColumn(9), FileState::pending);
  EXPECT_EQ(fileStateFromColumn(1), FileState::indexed);
}

TEST(Records, RootNamesAndURLs) {
  Root root{.path = "/"};
  EXPECT_EQ(root.name(), "/");
  EXPECT_EQ(root.basePath(), std::filesystem::path("/"));
  root.path = "/home/ann/Pictures";
  EXPECT_EQ(root.name(), "Pictures");
  EXPECT_EQ(root.basePath().string(), "/home/ann/Pictures/");
  root.path = "/home/ann/Pictures/";
  EXPECT_EQ(root.name(), "Pictures");
  EXPECT_EQ(root.basePath().string(), "/home/ann/Pictures/");
}

TEST(Records, MediaFileNameAndEquality) {
  MediaFile a{.id = 4, .rootID = 1, .relPath = "2024/beach/IMG_1.jpg"};
  EXPECT_EQ(a.name(), "IMG_1.jpg");
  MediaFile b = a;
  EXPECT_EQ(a, b);
  b.state = FileState::indexed;
  EXPECT_NE(a, b);
  EXPECT_EQ(MediaFile{.relPath = "top.png"}.name(), "top.png");
}

TEST(Records, VectorBlobsAreLittleEndianAndExactlySized) {
  const std::vector<Half> vector{0x3c00, 0xabcd, 0x0001};
  const Bytes blob = encodeVector(vector);
  EXPECT_EQ(blob, (Bytes{0x00, 0x3c, 0xcd, 0xab, 0x01, 0x00}));
  EXPECT_EQ(decodeVector(blob.data(), blob.size(), 3), vector);
  EXPECT_EQ(decodeVector(blob.data(), blob.size() - 2, 3), std::nullopt);
  EXPECT_EQ(decodeVector(blob.data(), blob.size(), 2), std::nullopt);
  EXPECT_EQ(decodeVector(nullptr, 0, 0), std::vector<Half>{});
}

TEST(CaptureTime, ExifContainerAndTypedDatesReadAndPrint) {
  // New York's local time, summer time included, whatever the machine's zone.
  setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
  tzset();
  using C = CaptureTime;
  EXPECT_EQ(C::fromExif("2024:06:01 12:30:45", "+02:00"), (C{1717237845, 120, TakenSource::exif}));
  EXPECT_EQ(C::fromExif("2024:06:01 12:30:45", "-0530"),
            (C{1717237845 + 7.5 * 3600, -330, TakenSource::exif}));
  EXPECT_EQ(C::fromExif("2024:06:01 12:30:45", ""), (C{1717259445, {}, TakenSource::exif}));  // EDT
  EXPECT_EQ(C::fromExif("0000:00:00 00:00:00", ""), std::nullopt);
  EXPECT_EQ(C::fromExif("2024:06:01 12:30:45", "+02:00")->iso(), "2024-06-01T12:30:45+02:00");
  EXPECT_EQ(C::fromExif("2024:06:01 12:30:45", "")->iso(), "2024-06-01T12:30:45");

  const C clip{1683195630, 0, TakenSource::container};
  EXPECT_EQ(C::fromContainer("2023-05-04T10:20:30.000000Z"), clip);
  EXPECT_EQ(C::fromContainer("yesterday"), std::nullopt);
  EXPECT_EQ(clip.iso(), "2023-05-04T10:20:30+00:00");
  EXPECT_EQ(C::modified(1683195630.7).iso(), "2023-05-04T06:20:30-04:00");

  EXPECT_EQ(C::startOf("2024-06"), 1717214400);  // midnight EDT
  EXPECT_EQ(C::startOf("2024-06-01"), 1717214400);
  EXPECT_EQ(C::endOf("2024-05"), 1717214400);
  EXPECT_EQ(C::endOf("2024-05-31"), 1717214400);
  EXPECT_EQ(C::endOf("2024-12-31"), C::startOf("2025-01"));
  EXPECT_EQ(C::endOf("2024-02-28"), C::startOf("2024-02-29"));
  for (const char* bad : {"2024-13", "2024-6-1", "2024-02-30", "2024-06-01x", "June", ""}) {
    EXPECT_EQ(C::startOf(bad), std::nullopt) << bad;
    EXPECT_EQ(C::endOf(bad), std::nullopt) << bad;
  }
}

TEST(Timecode, WholeSecondsRoundedDown) {
  EXPECT_EQ(timecode(75.9), "00:01:15");
  EXPECT_EQ(shortTimecode(75.9), "1:15");
  EXPECT_EQ(timecode(3725), "01:02:05");
  EXPECT_EQ(shortTimecode(3725), "1:02:05");
  EXPECT_EQ(timecode(0), "00:00:00");
  EXPECT_EQ(shortTimecode(0), "0:00");
  EXPECT_EQ(shortTimecode(3599.99), "59:59");
  EXPECT_EQ(shortTimecode(3600), "1:00:00");
  EXPECT_EQ(timecode(100 * 3600 + 1), "100:00:01");  // hours are not capped
  EXPECT_EQ(timecode(-4), "00:00:00");
  EXPECT_EQ(shortTimecode(std::nan("")), "0:00");
}

}  // namespace
}  // namespace quillmere
