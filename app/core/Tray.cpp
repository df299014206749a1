#include "Tray.h"

#include <QLocale>

#include "AppModel.h"
#include "Format.h"
#include "IndexingStatus.h"
#include "TrayIcon.h"

namespace quillmere {

Tray::Tray(AppModel& model, TrayIcon& icon, QObject* parent)
    : QObject(parent), model_(model), icon_(icon) {
  icon_.setActivation([this] { emit showRequested(); });
  connect(model_.indexing(), &IndexingStatus::changed, this, &Tray::update);
  update();
}

QString Tray::toolTip() const {
  return toolTip_;
}

QStringList Tray::menuTexts() const {
  return menuTexts_;
}

// The status panel's words for the same state, on one line.
QString Tray::indexingText() const {
  const auto* status = model_.indexing();
  if (!model_.ready()) return {};
  if (status->readOnly()) return status->readOnlyText();
  const QString phase = status->phase();
  if (phase == QLatin1String("scanning")) return tr("Looking for new files…");
  if (phase == QLatin1String("indexing") || phase == QLatin1String("paused")) {
    if (status->totalBytes() < 1) return status->title();
    return status->title() + " · " + Format::bytesShort(status->doneBytes(), status->totalBytes());
  }
  if (status->files() < 1) return {};
  const qint64 indexed = status->indexed();
  return tr("Up to date · ") + QLocale().toString(indexed) +
         (indexed == 1 ? tr(" item") : tr(" items"));
}

void Tray::update() {
  const QString state = indexingText();
  const QString tip = state.isEmpty() ? QStringLiteral("Quillmere") : "Quillmere\n" + state;
  if (tip != toolTip_) {
    toolTip_ = tip;
    icon_.setToolTip(toolTip_);
  }
  auto* status = model_.indexing();
  const bool canPause = model_.indexer() != nullptr;
  QStringList texts{tr("Show Quillmere")};
  if (canPause)
    texts.push_back(status->pausedByUser() ? tr("Resume Indexing") : tr("Pause Indexing"));
  texts.push_back(tr("Quit"));
  if (texts == menuTexts_) return;
  menuTexts_ = texts;
  std::vector<TrayIcon::Entry> entries{{texts.front(), [this] { emit showRequested(); }}};
  if (canPause) entries.push_back({texts[1], [status] { status->togglePause(); }});
  entries.push_back({texts.back(), [this] { emit quitRequested(); }});
  icon_.setMenu(std::move(entries));
}

}  // namespace quillmere
