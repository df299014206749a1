// SPDX-License-Identifier: GPL-3.0-or-later
// The platform's tray icon (QSystemTrayIcon, which needs a QApplication) behind the tray's
// seam. Exists only where the desktop has a tray.
#pragma once

#include <QMenu>
#include <QSystemTrayIcon>
#include <functional>
#include <vector>

#include "TrayIcon.h"

namespace quillmere {

class SystemTrayIcon : public TrayIcon {
 public:
  explicit SystemTrayIcon(const QIcon& icon);

  void setToolTip(const QString& text) override;
  void setMenu(std::vector<Entry> entries) override;
  void setActivation(std::function<void()> run) override;
  void show() override;

 private:
  QMenu menu_;
  QSystemTrayIcon icon_;
  std::vector<std::function<void()>> runs_;  // one for each of the menu's actions
  std::function<void()> activation_;
};

}  // namespace quillmere
