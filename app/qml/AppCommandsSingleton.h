// SPDX-License-Identifier: GPL-3.0-or-later
// The shared AppCommands for the views: the QML singleton "AppCommands".
#pragma once

#include <QtQml/qqml.h>
#include <QJSEngine>

#include "AppCommands.h"

namespace quillmere {

struct AppCommandsSingleton {
  Q_GADGET
  QML_FOREIGN(quillmere::AppCommands)
  QML_NAMED_ELEMENT(AppCommands)
  QML_SINGLETON

 public:
  // Every engine shares the process's one instance, which no engine owns.
  static AppCommands* create(QQmlEngine*, QJSEngine*) {
    QJSEngine::setObjectOwnership(&AppCommands::shared(), QJSEngine::CppOwnership);
    return &AppCommands::shared();
  }
};

}  // namespace quillmere
