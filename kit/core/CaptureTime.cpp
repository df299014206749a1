// SPDX-License-Identifier: GPL-3.0-or-later
// Capture times read from EXIF and container texts, typed dates, and ISO 8601 output.
#include "core/CaptureTime.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace quillmere {
namespace {

// A calendar time as written, before any time zone is applied.
struct WallClock {
  int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

// Digits at text[at, at + count) as a number; -1 when any is not a digit or text is short.
int digits(std::string_view text, std::size_t at, std::size_t count) {
  if (at + count > text.size()) return -1;
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

bool plausible(const WallClock& c) {
  return c.year >= 1800 && c.month >= 1 && c.month <= 12 && c.day >= 1 && c.day <= 31 &&
         c.hour >= 0 && c.hour <= 23 && c.minute >= 0 && c.minute <= 59 && c.second >= 0 &&
         c.second <= 60;
}

// "YYYY?MM?DD?hh:mm:ss" with any single separators: EXIF and ISO 8601 share this shape.
std::optional<WallClock> wallClock(std::string_view text) {
  if (text.size() < 19) return std::nullopt;
  const WallClock c{digits(text, 0, 4),  digits(text, 5, 2),  digits(text, 8, 2),
                    digits(text, 11, 2), digits(text, 14, 2), digits(text, 17, 2)};
  if (!plausible(c)) return std::nullopt;
  return c;
}

// Days from 1970-01-01 to the date in the proleptic Gregorian calendar (H. Hinnant's
// days_from_civil): exact for any year, unlike timegm's time_t range on some systems.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

double asUTC(const WallClock& c) {
  return static_cast<double>(
             daysFromCivil(c.year, static_cast<unsigned>(c.month), static_cast<unsigned>(c.day)) *
             86400) +
         c.hour * 3600.0 + c.minute * 60.0 + c.second;
}

// The wall clock in this computer's time zone; nothing for a day that does not exist.
std::optional<double> asLocal(const WallClock& c) {
  std::tm tm{};
  tm.tm_year = c.year - 1900;
  tm.tm_mon = c.month - 1;
  tm.tm_mday = c.day;
  tm.tm_hour = c.hour;
  tm.tm_min = c.minute;
  tm.tm_sec = c.second;
  tm.tm_isdst = -1;  // the zone's rule for that date decides
  const std::time_t t = std::mktime(&tm);
  // mktime normalises 31 June into 1 July: a date that moved was not a date.
  if (t == static_cast<std::time_t>(-1) || tm.tm_mday != c.day || tm.tm_mon != c.month - 1)
    return std::nullopt;
  return static_cast<double>(t);
}

// "+02:00", "-0530", "Z" as minutes east of UTC.
std::optional<int> offset(std::string_view text) {
  if (text == "Z") return 0;
  if (text.size() < 5 || (text[0] != '+' && text[0] != '-')) return std::nullopt;
  const int hours = digits(text, 1, 2);
  const int minutes = digits(text, text[3] == ':' ? 4 : 3, 2);
  if (hours < 0 || hours > 14 || minutes < 0 || minutes > 59) return std::nullopt;
  const int east = hours * 60 + minutes;
  return text[0] == '-' ? -east : east;
}

std::string formatted(const std::tm& tm) {
  char text[96];  // room for any int in each field, as the compiler checks
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

std::string offsetText(long east) {
  char text[32];
  const long size = (east < 0 ? -east : east) % (24 * 60);
  std::snprintf(text, sizeof text, "%c%02ld:%02ld", east < 0 ? '-' : '+', size / 60, size % 60);
  return text;
}

}  // namespace

CaptureTime CaptureTime::modified(double mtime) {
  return {.seconds = mtime, .offsetMinutes = std::nullopt, .source = TakenSource::modified};
}

std::optional<CaptureTime> CaptureTime::fromExif(std::string_view dateTime,
                                                 std::string_view offsetText) {
  const std::optional<WallClock> clock = wallClock(dateTime);
  if (!clock) return std::nullopt;
  if (const std::optional<int> east = offset(offsetText)) {
    return CaptureTime{.seconds = asUTC(*clock) - *east * 60.0,
                       .offsetMinutes = east,
                       .source = TakenSource::exif};
  }
  const std::optional<double> local = asLocal(*clock);
  if (!local) return std::nullopt;
  return CaptureTime{.seconds = *local, .offsetMinutes = std::nullopt, .source = TakenSource::exif};
}

std::optional<CaptureTime> CaptureTime::fromContainer(std::string_view text) {
  const std::optional<WallClock> clock = wallClock(text);
  if (!clock) return std::nullopt;
  std::size_t at = 19;
  if (at < text.size() && text[at] == '.') {
    ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
  }
  // Without a zone the container's time is taken for UTC, as QuickTime and MP4 store it.
  const int east = at < text.size() ? offset(text.substr(at)).value_or(0) : 0;
  return CaptureTime{.seconds = asUTC(*clock) - east * 60.0,
                     .offsetMinutes = east,
                     .source = TakenSource::container};
}

std::string CaptureTime::iso() const {
  const auto whole = static_cast<std::time_t>(std::floor(seconds));
  std::tm tm{};
  if (offsetMinutes) {
    const std::time_t shifted = whole + static_cast<std::time_t>(*offsetMinutes) * 60;
    gmtime_r(&shifted, &tm);
    return formatted(tm) + offsetText(*offsetMinutes);
  }
  localtime_r(&whole, &tm);
  if (source == TakenSource::exif) return formatted(tm);
  return formatted(tm) + offsetText(tm.tm_gmtoff / 60);
}

namespace {

// A typed day "2024-06-01" or month "2024-06" as the wall clock of its start.
std::optional<WallClock> typedDate(std::string_view text) {
  WallClock clock;
  clock.year = digits(text, 0, 4);
  if (text.size() != 7 && text.size() != 10) return std::nullopt;
  if (text[4] != '-') return std::nullopt;
  clock.month = digits(text, 5, 2);
  if (text.size() == 10) {
    if (text[7] != '-') return std::nullopt;
    clock.day = digits(text, 8, 2);
  }
  if (!plausible(clock) || !asLocal(clock)) return std::nullopt;
  return clock;
}

}  // namespace

std::optional<double> CaptureTime::startOf(std::string_view text) {
  const auto clock = typedDate(text);
  return clock ? asLocal(*clock) : std::nullopt;
}

std::optional<double> CaptureTime::endOf(std::string_view text) {
  auto clock = typedDate(text);
  if (!clock) return std::nullopt;
  // The next day, or the first of the next month when this was a month or its last day.
  if (text.size() == 10) {
    ++clock->day;
    if (asLocal(*clock)) return asLocal(*clock);
  }
  clock->day = 1;
  if (++clock->month > 12) {
    clock->month = 1;
    ++clock->year;
  }
  return asLocal(*clock);
}

const char* CaptureTime::name(TakenSource source) {
  switch (source) {
    case TakenSource::exif:
      return "exif";
    case TakenSource::container:
      return "container";
    case TakenSource::modified:
      break;
  }
  return "modified";
}

std::optional<TakenSource> CaptureTime::sourceFromRaw(std::int64_t raw) {
  if (raw >= 0 && raw <= 2) return static_cast<TakenSource>(raw);
  return std::nullopt;
}

}  // namespace quillmere
