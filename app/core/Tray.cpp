// SPDX-License-Identifier: GPL-3.0-or-later
// Tray: the tray icon's tooltip and menu after the indexing state.
#include "Tray.h"

#include "FolderModel.h"
#include "IndexingStatus.h"
#include "TrayIcon.h"

namespace quillmere {

Tray::Tray(IndexingStatus& status, const FolderModel& folders, TrayIcon& icon, QObject* parent)
    : QObject(parent), status_(status), folders_(folders), icon_(icon) {
  icon_.setActivation([this] { emit showRequested(); });
  connect(&status_, &IndexingStatus::changed, this, &Tray::update);
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
  return folders_.library() ? status_.summary() : QString();
}

void Tray::update() {
  const QString state = indexingText();
  const QString tip = state.isEmpty() ? tr("Quillmere") : tr("Quillmere\n%1").arg(state);
  if (tip != toolTip_) {
    toolTip_ = tip;
    icon_.setToolTip(toolTip_);
  }
  auto* status = &status_;
  const bool canPause = folders_.indexer() != nullptr;
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
