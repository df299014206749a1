// SPDX-License-Identifier: GPL-3.0-or-later
// Format's functions for the views: the QML singleton "Format".
#pragma once

#include <QtQml/qqml.h>
#include <QObject>

#include "Format.h"

namespace quillmere {

class FormatSingleton : public QObject {
  Q_OBJECT
  QML_NAMED_ELEMENT(Format)
  QML_SINGLETON

 public:
  using QObject::QObject;
  Q_INVOKABLE QString decimal(double x) const { return Format::decimal(x); }
  Q_INVOKABLE QString timeLeft(double seconds) const { return Format::timeLeft(seconds); }
  Q_INVOKABLE QString bytesShort(double done, double total) const {
    return Format::bytesShort(done, total);
  }
  Q_INVOKABLE QString hours(double seconds) const { return Format::hours(seconds); }
  Q_INVOKABLE QString summary(qint64 indexed, qint64 photos, double videoSeconds) const {
    return Format::summary(indexed, photos, videoSeconds);
  }
  Q_INVOKABLE QString moments(int count, double milliseconds) const {
    return Format::moments(count, milliseconds);
  }
  Q_INVOKABLE QString timecode(double seconds) const { return Format::timecode(seconds); }
};

}  // namespace quillmere
