// SPDX-License-Identifier: GPL-3.0-or-later
// The picture of one result, drawn from the Thumbnails service: nothing at first, the stored
// thumbnail as soon as it is decoded, then the sharp picture at the item's pixel size when
// the file's folder is reachable. Changing the frame, the time or the size cancels the
// load under way. ResultImage puts it over its background.
#pragma once

#include <QtQml/qqmlregistration.h>
#include <QImage>
#include <QPointer>
#include <QQuickItem>
#include <QVariant>
#include <algorithm>
#include <memory>
#include <optional>

#include "AppModel.h"

namespace quillmere {

class ThumbnailLoad;

class ResultPicture : public QQuickItem {
  Q_OBJECT
  QML_ELEMENT
  Q_PROPERTY(quillmere::AppModel* app READ app WRITE setApp NOTIFY appChanged)
  // A result's frame id, or null.
  Q_PROPERTY(QVariant frameId READ frameId WRITE setFrameId NOTIFY frameIdChanged)
  // The file of frameId, or null: then a frame that is not among the search results (a
  // duplicate's) shows too.
  Q_PROPERTY(QVariant fileId READ fileId WRITE setFileId NOTIFY fileIdChanged)
  // Whether to replace the stored thumbnail with a picture from the file.
  Q_PROPERTY(bool sharp READ sharp WRITE setSharp NOTIFY sharpChanged)
  // Seconds into a video overriding the result's own time, or null.
  Q_PROPERTY(QVariant time READ time WRITE setTime NOTIFY timeChanged)
  // The whole picture inside the item rather than cropped to fill it.
  Q_PROPERTY(bool fit READ fit WRITE setFit NOTIFY fitChanged)
  Q_PROPERTY(bool hasPicture READ hasPicture NOTIFY pictureChanged)
  Q_PROPERTY(bool showsSharp READ showsSharp NOTIFY pictureChanged)
  // The longest side of the picture shown, in pixels (0 without one).
  Q_PROPERTY(int pictureSize READ pictureSize NOTIFY pictureChanged)
  // Where the whole picture stands in the item (past its edges when cropped), for marks drawn
  // over it; the item's bounds without a picture.
  Q_PROPERTY(QRectF paintedRect READ paintedRect NOTIFY paintedRectChanged)

 public:
  explicit ResultPicture(QQuickItem* parent = nullptr);
  ~ResultPicture() override;

  AppModel* app() const { return app_; }
  void setApp(AppModel* app);
  QVariant frameId() const;
  void setFrameId(const QVariant& frameId);
  QVariant fileId() const;
  void setFileId(const QVariant& fileId);
  bool sharp() const { return sharp_; }
  void setSharp(bool sharp);
  QVariant time() const;
  void setTime(const QVariant& time);
  bool fit() const { return fit_; }
  void setFit(bool fit);
  bool hasPicture() const { return !image_.isNull(); }
  bool showsSharp() const { return showsSharp_; }
  int pictureSize() const { return std::max(image_.width(), image_.height()); }
  QRectF paintedRect() const;

  // The longest side asked of a sharp picture for this many device pixels: rounded up to a
  // step, so that small changes of size reuse one picture.
  static int pixelsFor(double devicePixels);

 signals:
  void appChanged();
  void frameIdChanged();
  void fileIdChanged();
  void sharpChanged();
  void timeChanged();
  void fitChanged();
  void pictureChanged();
  void paintedRectChanged();

 protected:
  QSGNode* updatePaintNode(QSGNode* node, UpdatePaintNodeData* data) override;
  void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;
  void itemChange(ItemChange change, const ItemChangeData& value) override;

 private:
  void scheduleRestart();
  void restart();
  // Drops the picture shown and the load under way.
  void forgetPicture();
  void show(const QImage& image, bool sharp);
  int wantedPixels() const;
  // The device pixels of `drawn` when the software renderer draws the item, else empty: that
  // renderer gets its picture at the size it is drawn.
  QSize softwareSize(const QSizeF& drawn) const;

  QPointer<AppModel> app_;  // the model may go before a queued restart runs
  std::optional<qint64> frameID_;
  std::optional<qint64> fileID_;
  bool sharp_ = true;
  std::optional<double> time_;
  bool fit_ = false;

  QImage image_;
  bool showsSharp_ = false;
  bool imageChanged_ = false;  // a new texture is due
  QSize drawnSize_;            // what softwareSize gave for the texture
  bool restartPending_ = false;
  QString identity_;  // what the running load was started for
  QString shownFor_;  // the frame and time the shown picture belongs to
  std::shared_ptr<ThumbnailLoad> load_;
};

}  // namespace quillmere
