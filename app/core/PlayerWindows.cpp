// SPDX-License-Identifier: GPL-3.0-or-later
// PlayerWindows: one player window per file, and keeping its shape when resized.
#include "PlayerWindows.h"

#include <QFileInfo>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <utility>

#include "platform/MediaProbe.h"
#include "scan/Timecode.h"

namespace quillmere {

namespace {

const QString sizeKey = QStringLiteral("QuillmerePlayer");

}  // namespace

PlayerWindows& PlayerWindows::shared() {
  static auto* instance = new PlayerWindows;
  return *instance;
}

PlayerWindows::PlayerWindows(QObject* parent) : QObject(parent) {}

void PlayerWindows::setFactory(Factory factory) {
  factory_ = std::move(factory);
}

QString PlayerWindows::title(const QUrl& file, double seconds) {
  return QFileInfo(file.toLocalFile()).fileName() + QStringLiteral(" — ") +
         QString::fromStdString(timecode(seconds));
}

PlayerWindows::Entry* PlayerWindows::entry(const QWindow* window) {
  for (auto& entry : windows_) {
    if (entry.window == window) return &entry;
  }
  return nullptr;
}

QWindow* PlayerWindows::window(const QUrl& file) const {
  for (const auto& entry : windows_) {
    if (entry.file == file && entry.window) return entry.window;
  }
  return nullptr;
}

void PlayerWindows::open(const QUrl& file, double seconds) {
  if (auto* open = window(file)) {
    QMetaObject::invokeMethod(open, "seekTo", Q_ARG(QVariant, seconds));
    open->setTitle(title(file, seconds));
    open->raise();
    open->requestActivate();
    return;
  }
  if (!factory_) return;
  auto* made = factory_(file, seconds, title(file, seconds));
  if (!made) return;
  place(*made);
  windows_.push_back({.file = file, .window = made, .opened = made->size()});
  // Closing hides the window: it leaves the list and goes, so the next open makes a new one.
  connect(made, &QWindow::visibleChanged, this, [this, made](bool visible) {
    if (!visible) forget(made, true);
  });
  connect(made, &QObject::destroyed, this, [this, made] { forget(made, false); });
  connect(made, &QWindow::widthChanged, this, [this, made] { resized(made); });
  connect(made, &QWindow::heightChanged, this, [this, made] { resized(made); });
  made->show();
  made->requestActivate();
  readAspect(file, made);
  emit windowsChanged();
}

double PlayerWindows::aspect(const QUrl& file) {
  const auto info = MediaProbe::read(std::filesystem::path(file.toLocalFile().toStdString()));
  if (!info.video) return 0;
  const auto& video = *info.video;
  const auto& t = video.transform;
  const double width = std::abs(t[0] * video.width + t[2] * video.height);
  const double height = std::abs(t[1] * video.width + t[3] * video.height);
  return width > 0 && height > 0 ? width / height : 0;
}

QSize PlayerWindows::fitted(const QSize& bounds, double aspect) {
  if (bounds.width() > bounds.height() * aspect) {
    return {std::max(1, static_cast<int>(std::lround(bounds.height() * aspect))), bounds.height()};
  }
  return {bounds.width(), std::max(1, static_cast<int>(std::lround(bounds.width() / aspect)))};
}

QSize PlayerWindows::following(const QSize& before, const QSize& now, double aspect) {
  const int widthMoved = std::abs(now.width() - before.width());
  const int heightMoved = std::abs(now.height() - before.height());
  QSize shaped = now;
  if (widthMoved >= heightMoved) {
    shaped.setHeight(std::max(1, static_cast<int>(std::lround(now.width() / aspect))));
  } else {
    shaped.setWidth(std::max(1, static_cast<int>(std::lround(now.height() * aspect))));
  }
  const bool off =
      std::abs(shaped.width() - now.width()) > 1 || std::abs(shaped.height() - now.height()) > 1;
  return off ? shaped : now;
}

QSize PlayerWindows::rememberedSize(const QSize& available) {
  const auto saved = QSettings().value(sizeKey).toSize();
  const auto size =
      saved.isValid() && !saved.isEmpty() ? saved : QSize(contentWidth, contentHeight);
  return available.isValid() ? size.boundedTo(available) : size;
}

void PlayerWindows::place(QWindow& window) {
  auto* screen = window.screen();
  window.resize(rememberedSize(screen ? screen->availableSize() : QSize()));
  centre(window);
}

void PlayerWindows::centre(QWindow& window) {
  if (!window.screen()) return;
  const auto area = window.screen()->availableGeometry();
  window.setPosition(area.topLeft() +
                     QPoint(area.width() - window.width(), area.height() - window.height()) / 2);
}

void PlayerWindows::remember(const Entry& entry) {
  // A full-screen or maximised window's size is the screen's, not one the user chose.
  if (entry.window->windowStates() != Qt::WindowNoState) return;
  // Fitted to its picture but never resized, the window leaves the size it was given, so that
  // pictures of other shapes do not shrink the next windows one after another.
  const auto size = entry.window->size();
  QSettings().setValue(sizeKey, size == entry.shaped ? entry.opened : size);
}

void PlayerWindows::readAspect(const QUrl& file, QWindow* window) {
  reads_.start([this, file, window] {
    const double read = aspect(file);
    answers_.post([this, file, window, read] { shape(file, window, read); });
  });
}

void PlayerWindows::shape(const QUrl& file, QWindow* window, double aspect) {
  auto* found = entry(window);
  // The window may have gone meanwhile; a file without a picture leaves it as it is.
  if (!found || found->file != file || !(aspect > 0) || !std::isfinite(aspect)) return;
  found->aspect = aspect;
  found->kept = fitted(window->size(), aspect);
  found->shaped = found->kept;
  if (found->kept == window->size()) return;
  found->ours = true;
  window->resize(found->kept);
  centre(*window);
}

void PlayerWindows::resized(QWindow* window) {
  auto* resizedEntry = entry(window);
  if (!resizedEntry || !(resizedEntry->aspect > 0) || resizedEntry->following) return;
  // A drag reports width and height apart: follow them together, once.
  resizedEntry->following = true;
  QTimer::singleShot(0, this, [this, window = QPointer<QWindow>(window)] {
    if (window) follow(window);
  });
}

void PlayerWindows::follow(QWindow* window) {
  auto* followed = entry(window);
  if (!followed) return;
  followed->following = false;
  const auto now = window->size();
  // The window's answer to a size of ours is taken as it is, so the two never argue.
  if (std::exchange(followed->ours, false) || window->windowStates() != Qt::WindowNoState) {
    followed->kept = now;
    return;
  }
  auto target = following(followed->kept, now, followed->aspect);
  if (auto* screen = window->screen()) {
    const auto area = screen->availableSize();
    if (!area.isEmpty() && target.boundedTo(area) != target) {
      target = fitted(target.boundedTo(area), followed->aspect);
    }
  }
  followed->kept = target;
  if (target == now) return;
  followed->ours = true;
  window->resize(target);
}

void PlayerWindows::forget(QWindow* window, bool remove) {
  if (const auto* closed = entry(window); closed && remove) remember(*closed);
  const auto before = windows_.size();
  std::erase_if(windows_,
                [window](const Entry& entry) { return !entry.window || entry.window == window; });
  if (windows_.size() == before) return;
  if (remove) {
    disconnect(window, nullptr, this, nullptr);
    window->deleteLater();
  }
  emit windowsChanged();
}

}  // namespace quillmere
