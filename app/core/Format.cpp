// SPDX-License-Identifier: GPL-3.0-or-later
// Format: the application's short texts for numbers, durations and counts.
#include "Format.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>

#include "scan/Timecode.h"

namespace quillmere {

namespace {

QString whole(double x, const QLocale& locale) {
  return locale.toString(std::round(x), 'f', 0);
}

}  // namespace

QString Format::decimal(double x, const QLocale& locale) {
  return locale.toString(x, 'f', x < 10 ? 1 : 0);
}

QString Format::timeLeft(double seconds, const QLocale& locale) {
  if (seconds < 60) return tr("less than a minute left");
  if (seconds < 3600) return tr("about %1 min left").arg(whole(seconds / 60, locale));
  return tr("about %1 h left").arg(decimal(seconds / 3600, locale));
}

QString Format::bytesShort(double done, double total, const QLocale& locale) {
  if (total / 1e9 >= 1) {
    return tr("%1 of %2 GB").arg(decimal(done / 1e9, locale), decimal(total / 1e9, locale));
  }
  return tr("%1 of %2 MB")
      .arg(whole(done / 1e6, locale), whole(std::max(total / 1e6, 1.0), locale));
}

QString Format::hours(double seconds, const QLocale& locale) {
  if (seconds < 3600) {
    return tr("%1 min").arg(whole(std::max(1.0, std::round(seconds / 60)), locale));
  }
  return tr("%1 h").arg(decimal(seconds / 3600, locale));
}

QString Format::summary(qint64 indexed, qint64 photos, double videoSeconds, const QLocale& locale) {
  if (indexed == 0) return tr("Your library is being indexed");
  const int count = static_cast<int>(photos);
  if (photos > 0 && videoSeconds > 0) {
    //: %1 is a length of video, such as "1.5 h"
    return tr("%n photo(s) and %1 of video ready to search", nullptr, count)
        .arg(hours(videoSeconds, locale));
  }
  if (photos > 0) return tr("%n photo(s) ready to search", nullptr, count);
  if (videoSeconds > 0) return tr("%1 of video ready to search").arg(hours(videoSeconds, locale));
  return tr("%1 ready to search").arg(QString());
}

QString Format::moments(int count, double milliseconds, bool likely, const QStringList& applied) {
  QStringList parts{likely ? tr("%n likely match(es)", nullptr, count)
                           : tr("%n moment(s)", nullptr, count)};
  parts << applied;
  parts << tr("%1 ms").arg(QString::number(std::round(milliseconds), 'f', 0));
  return parts.join(QStringLiteral(" · "));
}

QString Format::timecode(double seconds) {
  return QString::fromStdString(quillmere::timecode(seconds));
}

}  // namespace quillmere
