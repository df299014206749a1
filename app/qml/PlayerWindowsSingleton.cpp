// SPDX-License-Identifier: GPL-3.0-or-later
// PlayerWindowsSingleton: making player windows in the views' engine.
#include "PlayerWindowsSingleton.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QWindow>

namespace quillmere {

PlayerWindowsSingleton::PlayerWindowsSingleton(QObject* parent) : QObject(parent) {
  connect(&PlayerWindows::shared(), &PlayerWindows::windowsChanged, this,
          &PlayerWindowsSingleton::countChanged);
}

PlayerWindowsSingleton* PlayerWindowsSingleton::create(QQmlEngine* engine, QJSEngine*) {
  install(*engine);
  return new PlayerWindowsSingleton;
}

void PlayerWindowsSingleton::install(QQmlEngine& engine) {
  QPointer<QQmlEngine> owner(&engine);
  PlayerWindows::shared().setFactory(
      [owner](const QUrl& file, double seconds, const QString& title) -> QWindow* {
        if (!owner) return nullptr;
        QQmlComponent component(owner, QUrl("qrc:/Quillmere/qml/PlayerWindow.qml"));
        auto* made = component.createWithInitialProperties(
            {{"file", file}, {"start", seconds}, {"title", title}});
        if (!made) qWarning("%s", qPrintable(component.errorString()));
        auto* window = qobject_cast<QWindow*>(made);
        if (made && !window) delete made;
        return window;
      });
}

void PlayerWindowsSingleton::open(const QUrl& file, double seconds) {
  PlayerWindows::shared().open(file, seconds);
}

int PlayerWindowsSingleton::count() const {
  return PlayerWindows::shared().count();
}

}  // namespace quillmere
