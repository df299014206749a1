// SPDX-License-Identifier: GPL-3.0-or-later
// The player windows for the views (the QML singleton "PlayerWindows"), and the factory that
// makes each window from PlayerWindow.qml in the application's engine.
#pragma once

#include <QtQml/qqml.h>
#include <QObject>
#include <QUrl>

#include "PlayerWindows.h"

class QQmlEngine;
class QJSEngine;

namespace quillmere {

class PlayerWindowsSingleton : public QObject {
  Q_OBJECT
  QML_NAMED_ELEMENT(PlayerWindows)
  QML_SINGLETON
  Q_PROPERTY(int count READ count NOTIFY countChanged)

 public:
  explicit PlayerWindowsSingleton(QObject* parent = nullptr);
  static PlayerWindowsSingleton* create(QQmlEngine* engine, QJSEngine* js);
  // Makes the shared registry's windows in this engine; the executable calls it at start.
  static void install(QQmlEngine& engine);

  Q_INVOKABLE void open(const QUrl& file, double seconds);
  int count() const;

 signals:
  void countChanged();
};

}  // namespace quillmere
