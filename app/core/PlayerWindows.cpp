#include "PlayerWindows.h"

#include <QFileInfo>
#include <QScreen>
#include <QSettings>
#include <algorithm>

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
  windows_.push_back({file, made});
  // Closing hides the window: it leaves the list and goes, so the next open makes a new one.
  connect(made, &QWindow::visibleChanged, this, [this, made](bool visible) {
    if (!visible) forget(made, true);
  });
  connect(made, &QObject::destroyed, this, [this, made] { forget(made, false); });
  made->show();
  emit windowsChanged();
}

QSize PlayerWindows::rememberedSize(const QSize& available) {
  const auto saved = QSettings().value(sizeKey).toSize();
  const auto size =
      saved.isValid() && !saved.isEmpty() ? saved : QSize(contentWidth, contentHeight);
  return available.isValid() ? size.boundedTo(available) : size;
}

void PlayerWindows::place(QWindow& window) {
  auto* screen = window.screen();
  const auto area = screen ? screen->availableGeometry() : QRect();
  window.resize(rememberedSize(area.size()));
  if (!screen) return;
  window.setPosition(area.topLeft() +
                     QPoint(area.width() - window.width(), area.height() - window.height()) / 2);
}

void PlayerWindows::remember(const QWindow& window) {
  // A full-screen or maximised window's size is the screen's, not one the user chose.
  if (window.windowStates() != Qt::WindowNoState) return;
  QSettings().setValue(sizeKey, window.size());
}

void PlayerWindows::forget(QWindow* window, bool remove) {
  const auto before = windows_.size();
  std::erase_if(windows_,
                [window](const Entry& entry) { return !entry.window || entry.window == window; });
  if (windows_.size() == before) return;
  if (remove) {
    remember(*window);
    disconnect(window, nullptr, this, nullptr);
    window->deleteLater();
  }
  emit windowsChanged();
}

}  // namespace quillmere
