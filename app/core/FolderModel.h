// SPDX-License-Identifier: GPL-3.0-or-later
// The library's folders as the windows see them: the list, which folders can be read now
// and where (after the mount table), the folder watcher, and the library's totals. Lives on
// the GUI thread; only reachablePath is read from the indexer's threads.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "Folder.h"
#include "FolderListModel.h"
#include "FolderPicker.h"
#include "core/ThreadAnnotations.h"
#include "index/FolderRules.h"
#include "index/Library.h"

namespace quillmere {

class FolderWatcher;
class GuiQueue;
class Indexer;
class VolumeWatcher;

class FolderModel : public QObject {
  Q_OBJECT
  Q_PROPERTY(FolderListModel* list READ list CONSTANT)
  // The chooser of several folders at once; what it gives is added in order.
  Q_PROPERTY(FolderPicker* picker READ picker CONSTANT)
  Q_PROPERTY(qint64 totalFiles READ totalFiles NOTIFY totalsChanged)
  Q_PROPERTY(qint64 totalIndexed READ totalIndexed NOTIFY totalsChanged)
  Q_PROPERTY(qint64 totalPending READ totalPending NOTIFY totalsChanged)
  Q_PROPERTY(qint64 totalFailed READ totalFailed NOTIFY totalsChanged)
  Q_PROPERTY(qint64 totalFrames READ totalFrames NOTIFY totalsChanged)
  Q_PROPERTY(qint64 indexedPhotos READ indexedPhotos NOTIFY totalsChanged)
  Q_PROPERTY(double indexedVideoSeconds READ indexedVideoSeconds NOTIFY totalsChanged)

 public:
  // The engine's result, with its failure in the application's words.
  struct AddResult : FolderRules::AddResult {
    std::string message;  // one line for the user when failed
  };
  // Shows a text in the window's notice bar.
  using Notify = std::function<void(const QString&)>;

  explicit FolderModel(Notify notify, QObject* parent = nullptr);
  ~FolderModel() override;

  // Follows the library's folders from now on: reads the mount table below systemRoot,
  // finds the folders, and watches those that can be read. Without an indexer (another
  // process writes the library) nothing is indexed and no folder can be added.
  void start(Library& library, Indexer* indexer, const std::filesystem::path& systemRoot);
  // Ends the folder watcher's thread; called before the indexer goes.
  void stopWatching();
  // The folders that can be read now.
  std::vector<std::int64_t> reachable() const;

  // The library and its indexer once started; no indexer while another process writes.
  Library* library() const { return library_; }
  Indexer* indexer() const { return indexer_; }
  FolderListModel* list() const { return list_; }
  FolderPicker* picker() const { return picker_; }
  VolumeWatcher* volumes() const { return volumes_; }

  AddResult addFolder(const std::filesystem::path& path);
  static QString problemText(const FolderRules::AddResult& result);
  // addFolder, showing a failure as the notice.
  Q_INVOKABLE void handleAdd(const QString& path);
  // A folder chosen in a dialog or dropped: a location that is not a local folder (an
  // sftp:// place of the file manager's) is said to be one that cannot be added.
  Q_INVOKABLE void handleAddUrl(const QUrl& url);
  Q_INVOKABLE void removeFolder(qint64 rootID);
  void resolveFolders();
  void watchFolders();
  Q_INVOKABLE void volumesChanged();
  Q_INVOKABLE void refreshTotals();

  const Library::Totals& totals() const { return totals_; }
  std::optional<std::filesystem::path> filePath(const MediaFile& file) const;
  bool isOnline(const MediaFile& file) const;
  std::optional<Folder> folder(const MediaFile& file) const;
  // A folder row's line while its drive is not connected (OfflineNotes); empty while online.
  Q_INVOKABLE QString offlineNote(bool online, const QString& volumeName) const;
  // What the indexer's threads read: where a folder can be read now.
  std::optional<std::filesystem::path> reachablePath(const Root& root) const;

  qint64 totalFiles() const { return totals_.files; }
  qint64 totalIndexed() const { return totals_.indexed; }
  qint64 totalPending() const { return totals_.pending; }
  qint64 totalFailed() const { return totals_.failed; }
  qint64 totalFrames() const { return totals_.frames; }
  qint64 indexedPhotos() const { return indexedPhotos_; }
  double indexedVideoSeconds() const { return totals_.indexedVideoSeconds; }

 signals:
  void totalsChanged();
  // Which folders can be read changed.
  void accessChanged();
  // The folder is no longer in the library.
  void folderForgotten(qint64 rootID);
  // The listed results may have changed with the folders: the search runs again.
  void searchNeeded(bool keepSelection);

 private:
  void forgetFolder(std::int64_t rootID);

  Notify notify_;
  Library* library_ = nullptr;
  Indexer* indexer_ = nullptr;
  std::unique_ptr<FolderWatcher> watcher_;
  VolumeWatcher* volumes_ = nullptr;  // a child of the model
  GuiQueue* gui_;                     // where the watcher's changes come back
  FolderListModel* list_;
  FolderPicker* picker_;
  Library::Totals totals_;
  std::int64_t indexedPhotos_ = 0;

  // Folders that can be read now, with where (GUI thread only), and the copy the indexer's
  // threads read.
  std::map<std::int64_t, std::filesystem::path> accessing_;
  mutable Mutex accessCacheLock_;
  std::map<std::int64_t, std::filesystem::path> accessCache_ GUARDED_BY(accessCacheLock_);
};

}  // namespace quillmere
