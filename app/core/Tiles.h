// SPDX-License-Identifier: GPL-3.0-or-later
// The result tile width the user chose, kept in the preferences (QSettings "tileWidth") and
// read live by every results grid.
#pragma once

#include <QObject>

namespace quillmere {

class Tiles : public QObject {
  Q_OBJECT
  Q_PROPERTY(double tileWidth READ tileWidth WRITE setTileWidth NOTIFY tileWidthChanged)

 public:
  static constexpr double defaultWidth = 210;
  static constexpr double minimumWidth = 130;
  static constexpr double maximumWidth = 420;

  // The process's one instance, which the views share.
  static Tiles& shared();

  explicit Tiles(QObject* parent = nullptr);

  // The stored width; the default when absent or not a number.
  double tileWidth() const;
  // Stores the width, kept between the minimum and the maximum.
  void setTileWidth(double width);
  // Multiplies the stored width by factor ("Bigger Thumbnails" is 1.15).
  Q_INVOKABLE void zoom(double factor);

 signals:
  void tileWidthChanged();
};

}  // namespace quillmere
