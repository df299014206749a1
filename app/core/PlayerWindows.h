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

 signals:
  void windowsChanged();

 private:
  struct Entry {
    QUrl file;
    QPointer<QWindow> window;
  };
  // Gives a new window its remembered size and centres it on its screen.
  static void place(QWindow& window);
  // Keeps the size of a window the user closed for the next one.
  static void remember(const QWindow& window);
  // Drops the window from the list; deletes it too unless it is already going.
  void forget(QWindow* window, bool remove);

  Factory factory_;
  std::vector<Entry> windows_;  // in opening order
};

}  // namespace quillmere
