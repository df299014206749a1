// SPDX-License-Identifier: GPL-3.0-or-later
// Format: the application's short texts for numbers, durations and counts.
#include "Format.h"

#include <QCoreApplication>
#include <QStringList>
#include <algorithm>
#include <cmath>

#include "scan/Timecode.h"

namespace quillmere {

namespace {

QString words(const char* text) {
  return QCoreApplication::translate("Format", text);
}

QString whole(double x, const QLocale& locale) {
  return locale.toString(std::round(x), 'f', 0);
}

}  // namespace

QString Format::decimal(double x, const QLocale& locale) {
  return locale.toString(x, 'f', x < 10 ? 1 : 0);
}

QString Format::timeLeft(double seconds, const QLocale& locale) {
  if (seconds < 60) return words("less than a minute left");
  if (seconds < 3600) return words("about %1 min left").arg(whole(seconds / 60, locale));
  return words("about %1 h left").arg(decimal(seconds / 3600, locale));
}

QString Format::bytesShort(double done, double total, const QLocale& locale) {
  if (total / 1e9 >= 1) {
    return words("%1 of %2 GB").arg(decimal(done / 1e9, locale), decimal(total / 1e9, locale));
  }
  return words("%1 of %2 MB")
      .arg(whole(done / 1e6, locale), whole(std::max(total / 1e6, 1.0), locale));
}

QString Format::hours(double seconds, const QLocale& locale) {
  if (seconds < 3600) {
    return words("%1 min").arg(whole(std::max(1.0, std::round(seconds / 60)), locale));
  }
  return words("%1 h").arg(decimal(seconds / 3600, locale));
}

QString Format::summary(qint64 indexed, qint64 photos, double videoSeconds, const QLocale& locale) {
  if (indexed == 0) return words("Your library is being indexed");
  QStringList parts;
  if (photos > 0)
    parts << QString::number(photos) + (photos == 1 ? words(" photo") : words(" photos"));
  if (videoSeconds > 0) parts << hours(videoSeconds, locale) + words(" of video");
  return parts.join(words(" and ")) + words(" ready to search");
}

QString Format::moments(int count, double milliseconds) {
  return QString::number(count) + (count == 1 ? words(" moment · ") : words(" moments · ")) +
         QString::number(std::round(milliseconds), 'f', 0) + words(" ms");
}

QString Format::timecode(double seconds) {
  return QString::fromStdString(quillmere::timecode(seconds));
}

}  // namespace quillmere
