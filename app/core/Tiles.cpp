// SPDX-License-Identifier: GPL-3.0-or-later
// Tiles: the tile width preference and its zoom steps.
#include "Tiles.h"

#include <QSettings>
#include <algorithm>
#include <cmath>

namespace quillmere {

namespace {

const QString key = QStringLiteral("tileWidth");

}  // namespace

Tiles& Tiles::shared() {
  static Tiles* tiles = new Tiles;  // lives as long as the process; QML holds no ownership
  return *tiles;
}

Tiles::Tiles(QObject* parent) : QObject(parent) {}

double Tiles::tileWidth() const {
  bool isNumber = false;
  const double width = QSettings().value(key).toDouble(&isNumber);
  return isNumber && std::isfinite(width) ? width : defaultWidth;
}

void Tiles::setTileWidth(double width) {
  if (!std::isfinite(width)) return;
  const double kept = std::clamp(width, minimumWidth, maximumWidth);
  if (kept == tileWidth() && QSettings().contains(key)) return;
  QSettings().setValue(key, kept);
  emit tileWidthChanged();
}

void Tiles::zoom(double factor) {
  setTileWidth(tileWidth() * factor);
}

}  // namespace quillmere
