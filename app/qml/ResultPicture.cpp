// SPDX-License-Identifier: GPL-3.0-or-later
// ResultPicture: loading and painting one result's picture at the item's size.
#include "ResultPicture.h"

#include <QMetaObject>
#include <QQuickWindow>
#include <QSGImageNode>
#include <QSGRendererInterface>
#include <cmath>

#include "ResultListModel.h"
#include "ThumbnailLoad.h"
#include "Thumbnails.h"

namespace quillmere {

namespace {

// An id from QML: null, or anything that is not a number, is none.
std::optional<qint64> idOf(const QVariant& value) {
  bool ok = false;
  const qint64 id = value.toLongLong(&ok);
  return value.isNull() || !ok ? std::nullopt : std::optional(id);
}

// The part of an image of size `source` that fills `target` when cropped to its proportions.
QRectF cropped(const QSizeF& source, const QSizeF& target) {
  if (target.isEmpty()) return QRectF(QPointF(), source);
  const QSizeF kept = target.scaled(source, Qt::KeepAspectRatio);
  return QRectF(QPointF((source.width() - kept.width()) / 2, (source.height() - kept.height()) / 2),
                kept);
}

// Where an image of size `source` stands inside `target` when shown whole.
QRectF fitted(const QSizeF& source, const QRectF& target) {
  const QSizeF size = source.scaled(target.size(), Qt::KeepAspectRatio);
  return QRectF(target.x() + (target.width() - size.width()) / 2,
                target.y() + (target.height() - size.height()) / 2, size.width(), size.height());
}

// The part `source` of a picture scaled to `size` device pixels. The software renderer filters
// a scaled picture anew in every frame, handing its rows to Qt's image threads; scaled once
// here, it is copied as it stands.
QImage atDrawnSize(const QImage& image, const QRectF& source, const QSize& size, double ratio) {
  if (size.isEmpty()) return image;
  QImage scaled =
      image.copy(source.toRect()).scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  scaled.setDevicePixelRatio(ratio);
  return scaled;
}

}  // namespace

ResultPicture::ResultPicture(QQuickItem* parent) : QQuickItem(parent) {
  setFlag(ItemHasContents, true);
  setClip(true);
}

ResultPicture::~ResultPicture() {
  if (load_) load_->cancel();
}

void ResultPicture::setApp(AppModel* app) {
  if (app_ == app) return;
  app_ = app;
  emit appChanged();
  scheduleRestart();
}

QVariant ResultPicture::frameId() const {
  return frameID_ ? QVariant(*frameID_) : QVariant();
}

void ResultPicture::setFrameId(const QVariant& frameId) {
  const std::optional<qint64> value = idOf(frameId);
  if (frameID_ == value) return;
  frameID_ = value;
  forgetPicture();
  emit frameIdChanged();
  scheduleRestart();
}

QVariant ResultPicture::fileId() const {
  return fileID_ ? QVariant(*fileID_) : QVariant();
}

void ResultPicture::setFileId(const QVariant& fileId) {
  const std::optional<qint64> value = idOf(fileId);
  if (fileID_ == value) return;
  fileID_ = value;
  forgetPicture();
  emit fileIdChanged();
  scheduleRestart();
}

void ResultPicture::setSharp(bool sharp) {
  if (sharp_ == sharp) return;
  sharp_ = sharp;
  emit sharpChanged();
  scheduleRestart();
}

QVariant ResultPicture::time() const {
  return time_ ? QVariant(*time_) : QVariant();
}

void ResultPicture::setTime(const QVariant& time) {
  bool ok = false;
  const double seconds = time.toDouble(&ok);
  const std::optional<double> value = time.isNull() || !ok ? std::nullopt : std::optional(seconds);
  if (time_ == value) return;
  time_ = value;
  emit timeChanged();
  scheduleRestart();
}

void ResultPicture::setFit(bool fit) {
  if (fit_ == fit) return;
  fit_ = fit;
  imageChanged_ = true;  // another part of the picture is drawn
  emit fitChanged();
  emit paintedRectChanged();
  update();
}

int ResultPicture::pixelsFor(double devicePixels) {
  constexpr int step = 64;
  const int pixels = static_cast<int>(std::ceil(devicePixels));
  return std::max(step, (pixels + step - 1) / step * step);
}

int ResultPicture::wantedPixels() const {
  if (!sharp_ || width() <= 0 || height() <= 0) return 0;
  const double ratio = window() ? window()->effectiveDevicePixelRatio() : 1.0;
  return pixelsFor(std::max(width(), height()) * ratio);
}

void ResultPicture::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
  QQuickItem::geometryChange(newGeometry, oldGeometry);
  if (newGeometry.size() != oldGeometry.size()) {
    scheduleRestart();
    update();
    emit paintedRectChanged();
  }
}

QRectF ResultPicture::paintedRect() const {
  const QRectF bounds = boundingRect();
  if (image_.isNull() || bounds.isEmpty()) return bounds;
  const QSizeF size =
      QSizeF(image_.size())
          .scaled(bounds.size(), fit_ ? Qt::KeepAspectRatio : Qt::KeepAspectRatioByExpanding);
  return QRectF(bounds.x() + (bounds.width() - size.width()) / 2,
                bounds.y() + (bounds.height() - size.height()) / 2, size.width(), size.height());
}

void ResultPicture::itemChange(ItemChange change, const ItemChangeData& value) {
  QQuickItem::itemChange(change, value);
  if (change == ItemSceneChange || change == ItemDevicePixelRatioHasChanged) scheduleRestart();
}

// Several properties usually change together (a delegate reused for another row): one
// restart after them all.
void ResultPicture::scheduleRestart() {
  if (restartPending_) return;
  restartPending_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        restartPending_ = false;
        restart();
      },
      Qt::QueuedConnection);
}

// At once rather than at the restart: a delegate reused for another row shows the picture of
// its old row for not even one frame, nor an answer of the old row's load.
void ResultPicture::forgetPicture() {
  if (load_) load_->cancel();
  load_.reset();
  identity_.clear();
  shownFor_.clear();
  show(QImage(), false);
}

void ResultPicture::restart() {
  const auto row = app_ && frameID_ ? app_->search()->results()->row(*frameID_) : std::nullopt;
  const auto stored = !row && app_ && frameID_ && fileID_
                          ? app_->search()->storedFrame(*fileID_, *frameID_)
                          : std::nullopt;
  if (!row && !stored) return forgetPicture();
  const SearchResult& result =
      row ? app_->search()->results()->results()[static_cast<std::size_t>(*row)] : *stored;
  const double time = time_.value_or(result.time);
  const int pixels = wantedPixels();
  const QString shownFor = Thumbnails::smallKey(result) + "-" + QString::number(time, 'g', 17);
  const QString identity = shownFor + "-" + QString::number(pixels);
  if (identity == identity_) return;
  if (load_) load_->cancel();
  identity_ = identity;
  // Another result shows the background at once; the same one keeps its picture meanwhile.
  if (shownFor != shownFor_) {
    shownFor_ = shownFor;
    show(QImage(), false);
  }
  load_ = ThumbnailLoad::start(app_->thumbnails(), *app_->folders(), result, time, pixels,
                               [this](const QImage& image, bool sharp) { show(image, sharp); });
}

void ResultPicture::show(const QImage& image, bool sharp) {
  // A stored thumbnail arriving late never replaces a sharp picture of the same result.
  if (!image.isNull() && !sharp && showsSharp_) return;
  if (image.isNull() && image_.isNull()) return;
  image_ = image;
  showsSharp_ = sharp && !image.isNull();
  imageChanged_ = true;
  emit pictureChanged();
  emit paintedRectChanged();
  update();
}

QSGNode* ResultPicture::updatePaintNode(QSGNode* node, UpdatePaintNodeData*) {
  if (image_.isNull() || width() <= 0 || height() <= 0) {
    delete node;
    return nullptr;
  }
  const QRectF bounds = boundingRect();
  const QRectF source =
      fit_ ? QRectF(QPointF(), image_.size()) : cropped(image_.size(), bounds.size());
  const QRectF target = fit_ ? fitted(image_.size(), bounds) : bounds;
  const QSize drawn = softwareSize(target.size());
  // A new picture gets a new node: the node owns its texture and frees it with itself,
  // whereas replacing the texture of a node would leave the old one behind.
  if (imageChanged_ || drawn != drawnSize_) {
    delete node;
    node = nullptr;
  }
  auto* imageNode = static_cast<QSGImageNode*>(node);
  if (!imageNode) {
    imageNode = window()->createImageNode();
    imageNode->setOwnsTexture(true);
    imageNode->setTexture(window()->createTextureFromImage(
        drawn.isEmpty()
            ? image_
            : atDrawnSize(image_, source, drawn, window()->effectiveDevicePixelRatio())));
    imageChanged_ = false;
    drawnSize_ = drawn;
  }
  // At the drawn size the picture is copied pixel for pixel: nothing to filter.
  imageNode->setFiltering(drawn.isEmpty() ? QSGTexture::Linear : QSGTexture::Nearest);
  imageNode->setSourceRect(drawn.isEmpty() ? source : QRectF(QPointF(), drawn));
  imageNode->setRect(target);
  return imageNode;
}

QSize ResultPicture::softwareSize(const QSizeF& drawn) const {
  if (window()->rendererInterface()->graphicsApi() != QSGRendererInterface::Software) return {};
  return (drawn * window()->effectiveDevicePixelRatio()).toSize();
}

}  // namespace quillmere
