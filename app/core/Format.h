// SPDX-License-Identifier: GPL-3.0-or-later
// The application's short texts for numbers, durations and byte counts, in the user's locale.
// Pure functions: the same input and locale always give the same text.
#pragma once

#include <QCoreApplication>
#include <QLocale>
#include <QString>
#include <QStringList>

namespace quillmere {

class Format {
  Q_DECLARE_TR_FUNCTIONS(Format)

 public:
  // One digit after the decimal separator below 10, none from 10 on.
  static QString decimal(double x, const QLocale& locale = QLocale());
  // "less than a minute left", "about N min left" or "about D h left".
  static QString timeLeft(double seconds, const QLocale& locale = QLocale());
  // "A of B GB" from a total of 10^9 bytes on, else "A of B MB".
  static QString bytesShort(double done, double total, const QLocale& locale = QLocale());
  // "N min" (at least 1) below an hour, else "D h".
  static QString hours(double seconds, const QLocale& locale = QLocale());
  // The ready view's line: "N photos and D h of video ready to search", either part only
  // when the other is none, or "Your library is being indexed" while nothing is indexed.
  static QString summary(qint64 indexed, qint64 photos, double videoSeconds,
                         const QLocale& locale = QLocale());
  // The search header's line: "N moments · M ms", or "N likely matches", with what the
  // results were filtered and ordered by between ("this month · newest first").
  static QString moments(int count, double milliseconds, bool likely = false,
                         const QStringList& applied = {});
  // The player's "HH:MM:SS" of whole seconds.
  static QString timecode(double seconds);
};

}  // namespace quillmere
