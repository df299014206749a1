// The snapshot mode (quillmere --snapshot-windows DIR): builds a small sample library in a
// temporary directory, drives the model into each state a window can show and writes one
// PNG per state and palette (main-results.png, main-results-dark.png, ...). Each window has
// a function of its own that renders its states.
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
  // The names of the pictures run() writes, without the palette suffix and ".png".
  static QStringList stateNames();

 private:
  struct Sample;

  // One function per window.
  void mainWindow();

  void makeSample();
  void indexSample();
  AppModel::Setup setup(const std::filesystem::path& library) const;
  std::unique_ptr<AppModel> openModel(const std::filesystem::path& library) const;
  // Shoots the main window over the model in light and dark after prepare(window) ran.
  void shootMain(AppModel& model, const QString& name,
                 const std::function<void(QQuickWindow&)>& prepare = {});
  QQuickWindow* makeWindow(const QString& file, AppModel& model);
  bool save(QQuickWindow& window, const QString& name);

  const QString directory_;
  QTemporaryDir temp_;
  std::unique_ptr<Sample> sample_;
  QQmlEngine engine_;
  bool dark_ = false;
  int failures_ = 0;
};

}  // namespace quillmere
