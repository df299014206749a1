// SPDX-License-Identifier: GPL-3.0-or-later
// The application-wide commands the menus send to whichever window acts on them (the main
// window's views, the duplicates and settings windows): one shared object, its signals the
// commands. The views reach it as the QML singleton "AppCommands" and emit by calling them.
#pragma once

#include <QObject>

namespace quillmere {

class AppCommands : public QObject {
  Q_OBJECT

 public:
  // The process's one instance.
  static AppCommands& shared();

  explicit AppCommands(QObject* parent = nullptr);

 signals:
  // Show or hide the quick preview of the selected result.
  void togglePeek();
  void openSelected();
  // Draw a region of the selected result's picture in the preview, to search by it.
  void searchRegion();
  // Move keyboard focus to the search field, or to the results grid.
  void focusSearch();
  void focusResults();
  void showDuplicates();
  void showSettings();
  // The settings window on its Model tab.
  void showModelSettings();
};

}  // namespace quillmere
