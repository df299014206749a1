// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's notification-area icon as the tray drives it: the seam between the tray's
// logic (Tray) and the platform's icon, which needs widgets and a desktop that has a tray.
#pragma once

#include <QString>
#include <functional>
#include <vector>

namespace quillmere {

class TrayIcon {
 public:
  struct Entry {
    QString text;
    std::function<void()> run;
  };

  virtual ~TrayIcon() = default;

  virtual void setToolTip(const QString& text) = 0;
  // Replaces the menu's entries, in order.
  virtual void setMenu(std::vector<Entry> entries) = 0;
  // What a click on the icon itself does.
  virtual void setActivation(std::function<void()> run) = 0;
  virtual void show() = 0;
};

}  // namespace quillmere
