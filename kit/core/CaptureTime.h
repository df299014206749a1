// SPDX-License-Identifier: GPL-3.0-or-later
// When a photo or video was taken, and where the library learned it: the photo's EXIF
// date, the video container's creation time, or else the file's modification time. Dates
// a user types are read here too, so that both agree on the time zone: a time without an
// offset is this computer's local time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillmere {

// Stored as files.taken_source.
enum class TakenSource : std::int64_t { modified = 0, exif = 1, container = 2 };

struct CaptureTime {
  double seconds = 0;                // since 1970-01-01 UTC
  std::optional<int> offsetMinutes;  // east of UTC, when the source recorded it
  TakenSource source = TakenSource::modified;

  bool operator==(const CaptureTime&) const = default;

  static CaptureTime modified(double mtime);
  // EXIF DateTimeOriginal ("2024:06:01 12:30:45") with OffsetTimeOriginal ("+02:00"); without
  // a readable offset the wall clock is read in this computer's time zone. Nothing for an
  // unset ("0000:00:00 00:00:00") or unreadable date.
  static std::optional<CaptureTime> fromExif(std::string_view dateTime, std::string_view offset);
  // A container's ISO 8601 creation time ("2023-05-04T10:20:30.000000Z", or with an offset);
  // nothing when unreadable.
  static std::optional<CaptureTime> fromContainer(std::string_view text);

  // ISO 8601 to the second: with the recorded offset; an EXIF time without one as the wall
  // clock the camera wrote, no offset; any other in local time with the local offset.
  std::string iso() const;

  // The start of a typed day "2024-06-01" or month "2024-06" in local time, as seconds since
  // 1970; nothing for any other text or an impossible date.
  static std::optional<double> startOf(std::string_view dateOrMonth);
  // Where that day or month ends: the start of the day or month after it.
  static std::optional<double> endOf(std::string_view dateOrMonth);

  // "modified", "exif", "container".
  static const char* name(TakenSource source);
  static std::optional<TakenSource> sourceFromRaw(std::int64_t raw);
};

}  // namespace quillmere
