// SPDX-License-Identifier: GPL-3.0-or-later
// The snapshot mode (quillmere --snapshot-windows DIR): builds a small sample
// library in a temporary directory, drives the model into each state a window
// can show and writes one PNG per state and palette (main-results.png,
// main-results-dark.png, ...). Each window has a function of its own that
// renders its states.
#pragma once

#include <QColor>
#include <QPalette>
#include <QQmlEngine>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <filesystem>
#include <functional>
#include <memory>

#include "AppModel.h"

class QQuickWindow;

namespace quillmere {

class Snapshots {
 public:
  static constexpr int width = 1280;
  static constexpr int height = 800;

  explicit Snapshots(QString directory);
  ~Snapshots();

  // Renders every state; 0 when every picture was written.
  int run();
  // The names of the pictures run() writes, without the palette suffix and
  // ".png".
  static QStringList stateNames();

 private:
  struct Sample;

  // One function per window.
  void mainWindow();
  // The sidebar's indexing states, over a library whose machine readings the
  // snapshots change; ends with that library idle, for the duplicates window's
  // "none".
  std::unique_ptr<AppModel> sidebar();
  void duplicatesWindow(AppModel& withGroups, AppModel& withoutGroups);
  void settingsWindow(AppModel& model);
  // A clip's own window, paused a moment in, with its controls.
  void playerWindow();

  int shootAll();
  // False when the installed sample media are missing.
  bool makeSample();
  void indexSample();
  AppModel::Setup setup(const std::filesystem::path& library) const;
  std::unique_ptr<AppModel> openModel(const std::filesystem::path& library) const;
  // Shoots the main window over the model in light and dark after
  // prepare(window) ran.
  void shootMain(AppModel& model, const QString& name,
                 const std::function<void(QQuickWindow&)>& prepare = {});
  // The same for the window in file, waiting wait milliseconds after prepare.
  void shoot(const QString& file, AppModel& model, const QString& name,
             const std::function<void(QQuickWindow&)>& prepare = {}, int wait = 900);
  QQuickWindow* makeWindow(const QString& file, AppModel& model);
  bool save(QQuickWindow& window, const QString& name);

  const QString directory_;
  QTemporaryDir temp_;
  std::unique_ptr<Sample> sample_;
  // The made-up power and thermal readings of the sidebar's library.
  std::filesystem::path machine_;
  QQmlEngine engine_;
  bool dark_ = false;
  int failures_ = 0;
};

}  // namespace quillmere
