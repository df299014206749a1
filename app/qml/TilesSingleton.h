// SPDX-License-Identifier: GPL-3.0-or-later
// The shared Tiles for the views: the QML singleton "Tiles" (Tiles.tileWidth, Tiles.zoom()).
#pragma once

#include <QtQml/qqml.h>
#include <QJSEngine>

#include "Tiles.h"

namespace quillmere {

struct TilesSingleton {
  Q_GADGET
  QML_FOREIGN(quillmere::Tiles)
  QML_NAMED_ELEMENT(Tiles)
  QML_SINGLETON

 public:
  // Every engine shares the process's one instance, which no engine owns.
  static Tiles* create(QQmlEngine*, QJSEngine*) {
    QJSEngine::setObjectOwnership(&Tiles::shared(), QJSEngine::CppOwnership);
    return &Tiles::shared();
  }
};

}  // namespace quillmere
