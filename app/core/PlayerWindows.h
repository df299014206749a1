// SPDX-License-Identifier: GPL-3.0-or-later
// The application's video players: one window per file, opened at a second and brought
// forward (and moved to the new second) when the same file is opened again. The windows
// themselves are the views'; a factory the views install makes them. A new window takes the
// size the user gave the last one closed (QSettings "QuillmerePlayer"), centred on its screen,
// and keeps the shape of its file's upright picture.
#pragma once

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QUrl>
#include <QWindow>
#include <functional>
#include <vector>

#include "BackgroundPool.h"
#include "GuiQueue.h"

namespace quillmere {

class PlayerWindows : public QObject {
  Q_OBJECT
  Q_PROPERTY(int count READ count NOTIFY windowsChanged)

 public:
  // Makes a window playing file, seeking to seconds, with a title; it answers the
  // invokable seekTo(double seconds) and pauses itself when hidden. It is shown once placed.
  using Factory = std::function<QWindow*(const QUrl& file, double seconds, const QString& title)>;

  static constexpr int contentWidth = 960;
  static constexpr int contentHeight = 560;

  // The one instance of the process, made on first use.
  static PlayerWindows& shared();

  explicit PlayerWindows(QObject* parent = nullptr);

  void setFactory(Factory factory);
  // Opens the file at seconds, or moves its open window there and raises it.
  Q_INVOKABLE void open(const QUrl& file, double seconds);
  int count() const { return static_cast<int>(windows_.size()); }
  // The open window of this file, if any.
  QWindow* window(const QUrl& file) const;
  // The file's name, " — ", and the time code of seconds.
  static QString title(const QUrl& file, double seconds);

  // The content size of a new window: the last one the user left, else the default; never
  // larger than available.
  static QSize rememberedSize(const QSize& available);
  // Width over height of the file's upright picture (its natural size through its display
  // matrix); 0 without a video track or a known size. Reads the file.
  static double aspect(const QUrl& file);
  // The largest size of this width over height within bounds.
  static QSize fitted(const QSize& bounds, double aspect);
  // The size that keeps aspect after a resize from before to now: the side that moved most
  // leads; now itself when it is within a pixel of the shape.
  static QSize following(const QSize& before, const QSize& now, double aspect);

 signals:
  void windowsChanged();

 private:
  struct Entry {
    QUrl file;
    QPointer<QWindow> window;
    QSize opened;            // the remembered size it was placed at
    QSize shaped;            // that size fitted to the picture, until the user resizes
    double aspect = 0;       // 0 until known
    QSize kept;              // the size after the last resize it followed
    bool following = false;  // a resize waits to be followed
    bool ours = false;       // the next resize is the window's answer to one of ours
  };
  Entry* entry(const QWindow* window);
  // Gives a new window its remembered size and centres it on its screen.
  static void place(QWindow& window);
  static void centre(QWindow& window);
  // Keeps the size of a window the user closed for the next one.
  static void remember(const Entry& entry);
  // Reads the file's picture shape away from the GUI thread and gives it to the window.
  void readAspect(const QUrl& file, QWindow* window);
  void shape(const QUrl& file, QWindow* window, double aspect);
  void resized(QWindow* window);
  void follow(QWindow* window);
  // Drops the window from the list; deletes it too unless it is already going.
  void forget(QWindow* window, bool remove);

  Factory factory_;
  std::vector<Entry> windows_;  // in opening order
  GuiQueue answers_;
  BackgroundPool reads_{1, 2000};  // goes first, so no read answers into a queue gone
};

}  // namespace quillmere
