// SPDX-License-Identifier: GPL-3.0-or-later
#include "Format.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>

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

}  // namespace quillmere
