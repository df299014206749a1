// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop application's start-up and composition: opens the engine (library, embedder,
// search engine, indexer) and owns it with the queues its work runs on, and hands the parts
// to the models the windows read: the search (SearchModel), the folders (FolderModel), the
// indexing status and the file actions. Lives on the GUI thread. Work runs on the serial
// search queue, refinements on a queue of their own, indexing on the indexer's threads;
// their answers come back to the GUI thread as queued calls (GuiQueue).
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>

#include "FolderModel.h"
#include "SearchModel.h"
#include "engine/EngineOpening.h"
#include "index/Library.h"
#include "index/LibraryLock.h"
#include "indexer/Indexer.h"
#include "model/ModelInfo.h"

namespace quillmere {

class Actions;
class IndexingStatus;
class ModelDownloads;
class Embedder;
class GuiQueue;
class SearchEngine;
class SerialQueue;
class SystemConditions;
class Thumbnails;

class AppModel : public QObject {
  Q_OBJECT

  Q_PROPERTY(bool ready READ ready NOTIFY readyChanged)
  Q_PROPERTY(QString startupError READ startupError NOTIFY readyChanged)
  // Queries to try, chosen for what the model in use can find.
  Q_PROPERTY(QStringList exampleQueries READ exampleQueries NOTIFY readyChanged)
  // An older library is being brought up to date (and opened) off the GUI thread; nothing
  // else is ready meanwhile.
  Q_PROPERTY(bool upgrading READ upgrading NOTIFY upgradingChanged)
  // How far, from 0 to 1; -1 until the upgrade first says.
  Q_PROPERTY(double upgradeProgress READ upgradeProgress NOTIFY upgradingChanged)
  // The question asked when the library holds another model's frames; empty otherwise.
  Q_PROPERTY(QString modelChange READ modelChange NOTIFY modelChangeChanged)
  Q_PROPERTY(QString notice READ notice WRITE setNotice NOTIFY noticeChanged)
  // The library file this model opens.
  Q_PROPERTY(QString libraryPath READ libraryPath CONSTANT)
  // The query, its results and the selection.
  Q_PROPERTY(SearchModel* search READ search CONSTANT)
  // The library's folders and totals.
  Q_PROPERTY(FolderModel* folders READ folders CONSTANT)
  // The file operations on results (open, show in folder, copy path, export markers).
  Q_PROPERTY(Actions* actions READ actions CONSTANT)
  Q_MOC_INCLUDE("Actions.h")
  // The indexer's progress, the totals and the status panel's actions.
  Q_PROPERTY(IndexingStatus* indexing READ indexing CONSTANT)
  Q_MOC_INCLUDE("IndexingStatus.h")
  // The published models to download, and the download under way.
  Q_PROPERTY(ModelDownloads* downloads READ downloads CONSTANT)
  Q_MOC_INCLUDE("ModelDownloads.h")

 public:
  // Where the model finds its parts; the defaults are the user's own.
  struct Setup {
    // Default: Embedder::defaultDirectory() ($QUILLMERE_MODEL_DIR or the resources).
    std::optional<std::filesystem::path> modelDirectory;
    // Default: Library::defaultPath() ($QUILLMERE_LIBRARY or the per-user data directory).
    std::optional<std::filesystem::path> libraryPath;
    // Default: the machine's power and thermal readings.
    std::shared_ptr<const SystemConditions> conditions;
    // Where the mount table and drive names are read.
    std::filesystem::path systemRoot = "/";
    // The text model; default: TextReading's ($QUILLMERE_TEXT_MODEL_DIR or the resources).
    std::optional<std::filesystem::path> textModelDirectory;
    // Where an older library is upgraded and opened; default: the model's search queue. It
    // must outlive the model (the window snapshots hold one to show the upgrade under way).
    SerialQueue* upgradeQueue = nullptr;
  };

  static constexpr std::chrono::milliseconds refreshInterval{1500};
  // An encoder not used for this long is let go (a large model's gigabyte with it).
  static constexpr std::chrono::minutes encoderIdle{5};

  // Runs the start-up sequence; a failure leaves the model not ready with startupError set,
  // and a library made by another model leaves it not ready with modelChange set. A library
  // of an older schema is opened on a queue while the model says it is upgrading; start-up
  // goes on when it is open.
  explicit AppModel(Setup setup, QObject* parent = nullptr);
  // The user's own parts.
  explicit AppModel(QObject* parent = nullptr);
  // Stops the picture service, the indexer, the watcher and the queues before the engine goes.
  ~AppModel() override;

  bool ready() const { return library_ != nullptr; }
  bool upgrading() const { return upgrading_; }
  double upgradeProgress() const { return upgradeProgress_; }
  QString startupError() const { return startupError_; }
  QStringList exampleQueries() const;
  QString modelChange() const { return modelChange_; }
  // The answer "Index Again" to modelChange: the library drops the other model's frames and
  // start-up goes on. ("Quit" is the application's.)
  Q_INVOKABLE void indexAgain();
  Library* library() const { return library_.get(); }
  Indexer* indexer() const { return indexer_.get(); }
  // The result pictures' service: its decodes read this model's library, so it ends with it.
  Thumbnails& thumbnails() const { return *thumbnails_; }
  // The indexer's progress as last published on the GUI thread.
  Indexer::Progress progress() const;
  // The queue exact-time refinements run on, one at a time (tests hold it to order answers).
  SerialQueue& refinementQueue() { return *refineQueue_; }

  // The library file this model opens.
  std::filesystem::path libraryFile() const;
  QString libraryPath() const { return QString::fromStdString(libraryFile().string()); }
  // The search model in use; absent when none is loaded.
  std::optional<ModelInfo> modelInfo() const;

  SearchModel* search() const { return search_; }
  FolderModel* folders() const { return folders_; }
  Actions* actions() const { return actions_; }
  IndexingStatus* indexing() const { return indexing_; }
  ModelDownloads* downloads() const { return downloads_; }

  QString notice() const { return notice_; }
  // The same text set again is shown anew: the bar holds it its full time from now.
  void setNotice(const QString& notice);

  // Files dropped onto the window or handed to the application: a folder is added, a photo
  // or a video becomes the image query, and anything else is ignored. While the library has
  // no folder yet there is nothing to search: a file is said to be no folder.
  Q_INVOKABLE void drop(const QList<QUrl>& urls);
  // A launch's request: its files as dropped, then its text (unless empty) as if typed in the
  // search field.
  void open(const QList<QUrl>& files, const QString& query);

 signals:
  void readyChanged();
  void upgradingChanged();
  void modelChangeChanged();
  void noticeChanged();
  void progressChanged();
  // The coalesced refresh after indexed files ran.
  void indexedFilesRefreshed();

 private:
  void start();
  // What follows the library's opening: the model check, then the engine.
  void startOpened(const EngineOpening::Result& opened);
  EngineOpening::Request openingRequest(EngineOpening::Access access) const;
  // The embedder (once), the writer's lock (read-only while another process holds it, so
  // that nothing is indexed), then the library unless it is older; startupError on failure.
  EngineOpening::Result openEngine(EngineOpening::Access access);
  static QString startupFailure(const EngineOpening::Result& result);
  // The library opened, and upgraded, on the upgrade queue; finishUpgrade goes on from there
  // on the GUI thread.
  void upgradeLibrary();
  void finishUpgrade(std::unique_ptr<Library> library, const EngineOpening::Result& opened);
  void startEngine();
  void wireIndexer();
  // Hands the engine as it stands to the models.
  void attachEngine();
  void indexedFileRefresh();
  void finishRefresh();

  const Setup setup_;
  // The engine; all absent when start-up failed.
  std::unique_ptr<LibraryLock> lock_;  // held for the model's life; absent while reading only
  std::unique_ptr<Embedder> embedder_;
  std::unique_ptr<Library> library_;
  std::unique_ptr<SearchEngine> engine_;
  std::unique_ptr<Indexer> indexer_;
  std::unique_ptr<SerialQueue> searchQueue_;
  std::unique_ptr<SerialQueue> refineQueue_;
  std::unique_ptr<Thumbnails> thumbnails_;

  QString startupError_;
  bool upgrading_ = false;
  double upgradeProgress_ = -1;
  QList<QUrl> heldDrops_;  // dropped or handed over while upgrading
  QString modelChange_;
  QString notice_;
  GuiQueue* gui_;              // where the indexer's answers come back
  FolderModel* folders_;       // a child of the model
  SearchModel* search_;        // a child of the model
  Actions* actions_;           // a child of the model
  IndexingStatus* indexing_;   // a child of the model
  ModelDownloads* downloads_;  // a child of the model

  // The indexed-file refresh: at most one per refreshInterval.
  QTimer refreshTimer_;
  bool refreshPending_ = false;
  QTimer idleTimer_;  // looks for idle encoders now and then
};

}  // namespace quillmere
