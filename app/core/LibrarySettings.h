// SPDX-License-Identifier: GPL-3.0-or-later
// What the settings window shows and does beyond the folder list: the size of the library
// files, erasing what the library learned, and the search model in use. Reads the model in
// use from the search, the folders (and the library to compact) from the folder model, the
// library's growth from the indexing status, and reveals files through the actions; each
// must outlive it. What it has to say goes out as `noticed`.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <filesystem>
#include <memory>
#include <optional>

#include "model/ModelInfo.h"

namespace quillmere {

class Actions;
class FolderModel;
class IndexingStatus;
class SearchModel;
class GuiQueue;
class SerialQueue;

class LibrarySettings : public QObject {
  Q_OBJECT
  Q_PROPERTY(SearchModel* search READ search WRITE setSearch NOTIFY searchChanged)
  Q_PROPERTY(FolderModel* folders READ folders WRITE setFolders NOTIFY foldersChanged)
  Q_PROPERTY(IndexingStatus* indexing READ indexing WRITE setIndexing NOTIFY indexingChanged)
  Q_PROPERTY(Actions* actions READ actions WRITE setActions NOTIFY actionsChanged)
  Q_MOC_INCLUDE("Actions.h")
  Q_MOC_INCLUDE("FolderModel.h")
  Q_MOC_INCLUDE("IndexingStatus.h")
  Q_MOC_INCLUDE("SearchModel.h")
  // The library file.
  Q_PROPERTY(QString libraryPath READ libraryPath WRITE setLibraryPath NOTIFY libraryPathChanged)
  // The library file with its "-wal" and "-shm" files, in bytes, as of the last refresh.
  Q_PROPERTY(qint64 libraryBytes READ libraryBytes NOTIFY libraryBytesChanged)
  Q_PROPERTY(QString modelName READ modelName NOTIFY searchChanged)
  // What the model understands, in a sentence.
  Q_PROPERTY(QString modelUnderstands READ modelUnderstands NOTIFY searchChanged)
  // Where real models come from.
  Q_PROPERTY(QString modelHelp READ modelHelp CONSTANT)
  // The names of the models the user imported, in their folder of models.
  Q_PROPERTY(QStringList importedModels READ importedModels NOTIFY importedModelsChanged)
  // The imported model stored as the one to use from the next start; empty for none.
  Q_PROPERTY(QString chosenModel READ chosenModel NOTIFY importedModelsChanged)
  Q_PROPERTY(bool importing READ importing NOTIFY importingChanged)
  // Why the last import failed, in plain words; empty after a success.
  Q_PROPERTY(QString importError READ importError NOTIFY importingChanged)
  // What the last import did differently from the export, one remark a line; empty for none.
  Q_PROPERTY(QString importNotes READ importNotes NOTIFY importingChanged)

 public:
  explicit LibrarySettings(QObject* parent = nullptr);
  // Lets an import under way finish.
  ~LibrarySettings() override;

  SearchModel* search() const;
  void setSearch(SearchModel* search);
  FolderModel* folders() const;
  void setFolders(FolderModel* folders);
  IndexingStatus* indexing() const;
  void setIndexing(IndexingStatus* indexing);
  Actions* actions() const;
  void setActions(Actions* actions);
  QString libraryPath() const { return libraryPath_; }
  void setLibraryPath(const QString& path);
  qint64 libraryBytes() const { return libraryBytes_; }
  QString modelName() const;
  QString modelUnderstands() const;
  QString modelHelp() const;
  QStringList importedModels() const;
  QString chosenModel() const;
  bool importing() const { return importing_; }
  QString importError() const { return importError_; }
  QString importNotes() const { return importNotes_; }

  // The sum of the sizes of the file and its "-wal" and "-shm" files; 0 for each missing.
  static qint64 bytesOnDisk(const std::filesystem::path& library);

  Q_INVOKABLE void refresh();
  // Forgets every folder, then compacts the library so that nothing of them stays in its
  // files, and says how large the library now is. With no folder, does nothing.
  Q_INVOKABLE void erase();
  // Opens the folder holding the library file in the file manager.
  Q_INVOKABLE void showLibrary() const;
  // Imports the published export in `folder` into the folder of models, off this thread (it
  // runs both encoders once); imported(name) or importFailed follows.
  Q_INVOKABLE void importModel(const QUrl& folder);
  // Stores the imported model `name` as the one to use; the application uses it once it is
  // opened again, and then indexes every file again. Returns false, with importError set,
  // when the choice can't be written.
  Q_INVOKABLE bool useModel(const QString& name);

 signals:
  void searchChanged();
  void foldersChanged();
  void indexingChanged();
  void actionsChanged();
  void libraryPathChanged();
  // What the settings have to tell (an erase's or a choice's outcome), for the notice bar.
  void noticed(const QString& text);
  void libraryBytesChanged();
  // An erase finished; the notice says what the library now takes.
  void erased();
  void importedModelsChanged();
  void importingChanged();
  // An import wrote the model `name`; the window asks before using it.
  void imported(const QString& name);
  void importFailed();

 private:
  bool isDemoModel() const;
  void finishImport(const QString& name, const QString& error, const QString& notes);

  std::optional<ModelInfo> modelInfo() const;

  QPointer<SearchModel> search_;
  QPointer<FolderModel> folders_;
  QPointer<IndexingStatus> indexing_;
  QPointer<Actions> actions_;
  QString libraryPath_;
  qint64 libraryBytes_ = 0;
  bool importing_ = false;
  QString importError_;
  QString importNotes_;
  GuiQueue* gui_;
  std::unique_ptr<SerialQueue> queue_;
};

}  // namespace quillmere
