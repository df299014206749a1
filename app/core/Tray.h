// SPDX-License-Identifier: GPL-3.0-or-later
// The tray's logic: while the application lives in the tray, its icon's tooltip says what
// indexing is doing and its menu shows the window, pauses or resumes indexing, and quits.
// Works through a TrayIcon, the platform's icon or a test's.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

namespace quillmere {

class FolderModel;
class IndexingStatus;
class TrayIcon;

class Tray : public QObject {
  Q_OBJECT

 public:
  // Fills the icon's menu and tooltip after status, and keeps them current; folders say
  // whether the engine is open and can index. Does not show the icon.
  Tray(IndexingStatus& status, const FolderModel& folders, TrayIcon& icon,
       QObject* parent = nullptr);

  QString toolTip() const;
  // The menu's texts, in order.
  QStringList menuTexts() const;

 signals:
  // "Show Quillmere", or a click on the icon.
  void showRequested();
  void quitRequested();

 private:
  void update();
  QString indexingText() const;

  IndexingStatus& status_;
  const FolderModel& folders_;
  TrayIcon& icon_;
  QString toolTip_;
  QStringList menuTexts_;
};

}  // namespace quillmere
