// SPDX-License-Identifier: GPL-3.0-or-later
// SystemTrayIcon: the tray seam over QSystemTrayIcon and its menu.
#include "SystemTrayIcon.h"

namespace quillmere {

SystemTrayIcon::SystemTrayIcon(const QIcon& icon) : icon_(icon) {
  icon_.setContextMenu(&menu_);
  QObject::connect(&icon_, &QSystemTrayIcon::activated,
                   [this](QSystemTrayIcon::ActivationReason reason) {
                     // The context menu has its own reason; a plain click shows the window.
                     if (reason == QSystemTrayIcon::Trigger && activation_) activation_();
                   });
}

void SystemTrayIcon::setToolTip(const QString& text) {
  icon_.setToolTip(text);
}

void SystemTrayIcon::setMenu(std::vector<Entry> entries) {
  // Actions are kept and renamed rather than replaced: the menu may be changed from one of
  // its own actions.
  if (menu_.actions().size() != static_cast<qsizetype>(entries.size())) {
    menu_.clear();
    for (std::size_t i = 0; i < entries.size(); ++i) {
      QObject::connect(menu_.addAction(QString()), &QAction::triggered, &menu_, [this, i] {
        if (i >= runs_.size()) return;
        const auto run = runs_[i];  // setMenu may replace it while it runs
        run();
      });
    }
  }
  const auto actions = menu_.actions();
  runs_.clear();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    actions[static_cast<qsizetype>(i)]->setText(entries[i].text);
    runs_.push_back(std::move(entries[i].run));
  }
}

void SystemTrayIcon::setActivation(std::function<void()> run) {
  activation_ = std::move(run);
}

void SystemTrayIcon::show() {
  icon_.show();
}

}  // namespace quillmere
