// SPDX-License-Identifier: GPL-3.0-or-later
// The one coordinator of the desktop application: owns the engine (library, embedder,
// search engine, indexer, folder watcher) and every piece of state the windows draw. Lives
// on the GUI thread; all published state changes there. Work runs on the serial search queue
// "quillmere.search", refinements on a queue of their own, indexing on the indexer's threads;
// their answers come back to the GUI thread as queued calls (GuiQueue) and touch no state
// before that.
#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Folder.h"
#include "FolderListModel.h"
#include "ResultListModel.h"
#include "index/FolderRules.h"
#include "index/Library.h"
#include "index/LibraryLock.h"
#include "indexer/Indexer.h"
#include "model/ModelInfo.h"
#include "search/MoreLikeThis.h"
#include "search/SearchFilter.h"

namespace quillmere {

class Actions;
class IndexingStatus;
class Embedder;
class FolderWatcher;
class GuiQueue;
class SearchEngine;
class SearchQueue;
class SystemConditions;
class Thumbnails;
class VolumeWatcher;

class AppModel : public QObject {
  Q_OBJECT
  QML_ELEMENT
  QML_UNCREATABLE("The application makes the one model")

  Q_PROPERTY(bool ready READ ready NOTIFY readyChanged)
  Q_PROPERTY(QString startupError READ startupError NOTIFY readyChanged)
  // Queries to try, chosen for what the model in use can find.
  Q_PROPERTY(QStringList exampleQueries READ exampleQueries NOTIFY readyChanged)
  // The question asked when the library holds another model's frames; empty otherwise.
  Q_PROPERTY(QString modelChange READ modelChange NOTIFY modelChangeChanged)
  Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
  Q_PROPERTY(KindFilter kindFilter READ kindFilter WRITE setKindFilter NOTIFY kindFilterChanged)
  Q_PROPERTY(QStringList kindFilterNames READ kindFilterNames CONSTANT)
  // A root id, or null for every folder.
  Q_PROPERTY(QVariant folderFilter READ folderFilterValue WRITE setFolderFilterValue NOTIFY
                 folderFilterChanged)
  Q_PROPERTY(QString searchedQuery READ searchedQuery NOTIFY searchedQueryChanged)
  Q_PROPERTY(double lastSearchMS READ lastSearchMS NOTIFY lastSearchMSChanged)
  // A frame id, or null.
  Q_PROPERTY(QVariant selection READ selectionValue WRITE setSelectionValue NOTIFY selectionChanged)
  Q_PROPERTY(QString notice READ notice WRITE setNotice NOTIFY noticeChanged)
  // The image query's name, empty without one.
  Q_PROPERTY(QString imageQueryName READ imageQueryName NOTIFY imageQueryChanged)
  Q_PROPERTY(FolderListModel* folders READ folders CONSTANT)
  Q_PROPERTY(ResultListModel* results READ results CONSTANT)
  Q_PROPERTY(qint64 totalFiles READ totalFiles NOTIFY totalsChanged)
  Q_PROPERTY(qint64 totalIndexed READ totalIndexed NOTIFY totalsChanged)
  Q_PROPERTY(qint64 totalPending READ totalPending NOTIFY totalsChanged)
  Q_PROPERTY(qint64 totalFailed READ totalFailed NOTIFY totalsChanged)
  Q_PROPERTY(qint64 totalFrames READ totalFrames NOTIFY totalsChanged)
  Q_PROPERTY(qint64 indexedPhotos READ indexedPhotos NOTIFY totalsChanged)
  Q_PROPERTY(double indexedVideoSeconds READ indexedVideoSeconds NOTIFY totalsChanged)
  // The file operations on results (open, show in folder, copy path, export markers).
  Q_PROPERTY(Actions* actions READ actions CONSTANT)
  Q_MOC_INCLUDE("Actions.h")
  // The indexer's progress, the totals and the status panel's actions.
  Q_PROPERTY(IndexingStatus* indexing READ indexing CONSTANT)
  Q_MOC_INCLUDE("IndexingStatus.h")

 public:
  enum class KindFilter { All, Photos, Videos };
  Q_ENUM(KindFilter)

  using ImageQuery = MoreLikeThis::ImageQuery;
  using AddResult = FolderRules::AddResult;

  // Where the model finds its parts; the defaults are the user's own.
  struct Setup {
    // Default: Embedder::defaultDirectory() ($QUILLMERE_MODEL_DIR or the resources).
    std::optional<std::filesystem::path> modelDirectory;
    // Default: Library::defaultURL() ($QUILLMERE_LIBRARY or the per-user data directory).
    std::optional<std::filesystem::path> libraryURL;
    // Default: the machine's power and thermal readings.
    std::shared_ptr<const SystemConditions> conditions;
    // Where the mount table and drive names are read.
    std::filesystem::path systemRoot = "/";
  };

  static constexpr std::chrono::milliseconds typingDelay{90};
  static constexpr std::chrono::milliseconds refreshInterval{1500};
  static constexpr std::size_t resultLimit = 300;
  static constexpr std::int64_t queryPixels = 384;
  // Kept in view while another process writes the library.
  static constexpr const char* busyNotice =
      "Another Quillmere process is indexing this library. You can search; new files are "
      "indexed when Quillmere is opened again after it ends.";

  // Runs the start-up sequence; a failure leaves the model not ready with startupError set,
  // and a library made by another model leaves it not ready with modelChange set.
  explicit AppModel(Setup setup, QObject* parent = nullptr);
  // The user's own parts.
  explicit AppModel(QObject* parent = nullptr);
  // Stops the picture service, the indexer, the watcher and the queues before the engine goes.
  ~AppModel() override;

  bool ready() const { return library_ != nullptr; }
  QString startupError() const { return startupError_; }
  QStringList exampleQueries() const;
  QString modelChange() const { return modelChange_; }
  // The answer "Index Again" to modelChange: the library drops the other model's frames and
  // start-up goes on. ("Quit" is the application's.)
  Q_INVOKABLE void indexAgain();
  Library* library() const { return library_.get(); }
  Indexer* indexer() const { return indexer_.get(); }
  VolumeWatcher* volumes() const { return volumes_; }
  // The result pictures' service: its decodes read this model's library, so it ends with it.
  Thumbnails& thumbnails() const { return *thumbnails_; }
  Indexer::Progress progress() const { return progress_; }
  // The queue exact-time refinements run on, one at a time (tests hold it to order answers).
  SearchQueue& refinementQueue() { return *refineQueue_; }

  // The library file this model opens.
  std::filesystem::path libraryURL() const;
  // The search model in use; absent when none is loaded.
  std::optional<ModelInfo> modelInfo() const;

  // Search state (the results grid and the search header).
  QString query() const { return query_; }
  void setQuery(const QString& query);
  KindFilter kindFilter() const { return kindFilter_; }
  void setKindFilter(KindFilter filter);
  QStringList kindFilterNames() const;
  std::optional<std::int64_t> folderFilter() const { return folderFilter_; }
  void setFolderFilter(std::optional<std::int64_t> rootID);
  QString searchedQuery() const { return searchedQuery_; }
  double lastSearchMS() const { return lastSearchMS_; }
  std::optional<std::int64_t> selection() const { return selection_; }
  // Selects a result (or none) and starts its refinement.
  void select(std::optional<std::int64_t> frameID);
  const std::optional<ImageQuery>& imageQuery() const { return imageQuery_; }
  QString imageQueryName() const;
  Q_INVOKABLE void clearImageQuery();
  const std::map<std::int64_t, double>& exactTimes() const { return exactTimes_; }
  ResultListModel* results() const { return results_; }
  FolderListModel* folders() const { return folders_; }
  Actions* actions() const { return actions_; }
  IndexingStatus* indexing() const { return indexing_; }

  // The single entry point that (re)runs a search.
  void scheduleSearch(bool now, bool keepSelection);
  std::optional<SearchResult> selectedResult() const;
  double openTime(const SearchResult& result) const;
  void refineSelection();
  // An image query from a photo file, or a video's middle frame (prepared on the search queue).
  Q_INVOKABLE void searchByImage(const QString& path);
  // An image query from a result's stored frame.
  void moreLikeThis(const SearchResult& result);
  Q_INVOKABLE void moreLikeThis(qint64 frameID);

  // Folders.
  AddResult addFolder(const std::filesystem::path& path);
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
  std::optional<std::filesystem::path> url(const MediaFile& file) const;
  bool isOnline(const MediaFile& file) const;
  // The stored frame frameID of the file fileID as a result without a score, for a picture
  // of a frame that is not among the search results; nothing when either is gone.
  std::optional<SearchResult> storedFrame(std::int64_t fileID, std::int64_t frameID) const;
  std::optional<Folder> folder(const MediaFile& file) const;
  // What the indexer's threads read: where a folder can be read now.
  std::optional<std::filesystem::path> reachableURL(const Root& root) const;

  QString notice() const { return notice_; }
  // The same text set again is shown anew: the bar holds it its full time from now.
  void setNotice(const QString& notice);

  qint64 totalFiles() const { return totals_.files; }
  qint64 totalIndexed() const { return totals_.indexed; }
  qint64 totalPending() const { return totals_.pending; }
  qint64 totalFailed() const { return totals_.failed; }
  qint64 totalFrames() const { return totals_.frames; }
  qint64 indexedPhotos() const { return indexedPhotos_; }
  double indexedVideoSeconds() const { return totals_.indexedVideoSeconds; }

  // For the result tiles: "On <drive> — not connected" while the result's folder is offline,
  // else empty.
  Q_INVOKABLE QString offlineNote(qint64 frameID) const;
  // The result's file, or an empty URL while its folder is offline.
  Q_INVOKABLE QUrl fileUrl(qint64 frameID) const;
  // A listed video result's opening time (refined when known) as "1:15", or with full
  // "00:01:15"; empty for a photo or a frame not listed.
  Q_INVOKABLE QString openTimecode(qint64 frameID, bool full) const;
  // Files dropped onto the window or handed to the application: a folder is added, a photo
  // or a video becomes the image query, and anything else is ignored.
  Q_INVOKABLE void drop(const QList<QUrl>& urls);
  // Return in the search field: a search still waiting or running is run at once and its
  // first result asked to open (openRequested) when it is applied; otherwise the selection.
  Q_INVOKABLE void openSelectedWhenSearched();

 signals:
  void readyChanged();
  void modelChangeChanged();
  void queryChanged();
  void kindFilterChanged();
  void folderFilterChanged();
  void searchedQueryChanged();
  void lastSearchMSChanged();
  void selectionChanged();
  void noticeChanged();
  void imageQueryChanged();
  void exactTimesChanged();
  void totalsChanged();
  void progressChanged();
  // A search's work was handed to the search queue.
  void searchStarted();
  // A search's answer was applied.
  void searchApplied();
  // The answer of a new search (not a re-run keeping the selection) replaced the results:
  // the views show it from its top, even when its first result was selected before.
  void resultsReplaced();
  // A refinement of this frame's time was started.
  void refinementStarted(qint64 frameID);
  // The coalesced refresh after indexed files ran.
  void indexedFilesRefreshed();
  // The window should open this result (Return in the search field).
  void openRequested(qint64 frameID);

 private:
  // What one search was asked with, captured when it was scheduled.
  struct SearchJob {
    std::uint64_t generation = 0;
    std::string text;
    std::optional<ImageQuery> imageQuery;
    SearchFilter filter;
    bool keepSelection = false;
  };
  // What a search asked: a re-run keeps the selection only while this is unchanged.
  struct Question {
    std::string text;
    std::optional<ImageQuery> imageQuery;
    SearchFilter filter;
    bool operator==(const Question&) const = default;
  };
  // What the search queue hands back.
  struct SearchAnswer {
    std::vector<SearchResult> results;
    std::vector<float> vector;
    std::optional<std::string> failure;
  };

  void start();
  // The embedder (once) and the library; false with startupError set when either fails.
  // Takes the writer's lock first; while another process holds it the library opens
  // read-only and nothing is indexed.
  bool openLibrary(Library::Opening opening);
  void startEngine();
  void wireIndexer();
  void startSearch();
  SearchAnswer computeSearch(const SearchJob& job);
  void applyAnswer(const SearchJob& job, SearchAnswer answer,
                   std::chrono::steady_clock::time_point started);
  void setSelection(std::optional<std::int64_t> frameID);
  void setImageQuery(std::optional<ImageQuery> query);
  void useImageQuery(ImageQuery query);
  void indexedFileRefresh();
  void finishRefresh();
  void forgetFolder(std::int64_t rootID);
  SearchFilter currentFilter() const;

  QVariant folderFilterValue() const;
  void setFolderFilterValue(const QVariant& value);
  QVariant selectionValue() const;
  void setSelectionValue(const QVariant& value);

  const Setup setup_;
  // The engine; all absent when start-up failed.
  std::unique_ptr<LibraryLock> lock_;  // held for the model's life; absent while reading only
  std::unique_ptr<Embedder> embedder_;
  std::unique_ptr<Library> library_;
  std::unique_ptr<SearchEngine> engine_;
  std::unique_ptr<Indexer> indexer_;
  std::unique_ptr<FolderWatcher> watcher_;
  std::unique_ptr<SearchQueue> searchQueue_;
  std::unique_ptr<SearchQueue> refineQueue_;
  std::unique_ptr<Thumbnails> thumbnails_;
  VolumeWatcher* volumes_ = nullptr;  // a child of the model

  QString startupError_;
  QString modelChange_;
  GuiQueue* gui_;  // where the other threads' answers come back
  FolderListModel* folders_;
  ResultListModel* results_;
  Actions* actions_;          // a child of the model
  IndexingStatus* indexing_;  // a child of the model
  Indexer::Progress progress_;
  QString query_;
  KindFilter kindFilter_ = KindFilter::All;
  std::optional<std::int64_t> folderFilter_;
  QString searchedQuery_;
  double lastSearchMS_ = 0;
  std::optional<std::int64_t> selection_;
  Library::Totals totals_;
  QString notice_;
  std::optional<ImageQuery> imageQuery_;
  // What the results on show answered; absent while none are.
  std::optional<Question> answered_;
  std::map<std::int64_t, double> exactTimes_;
  std::optional<std::vector<float>> lastQueryVector_;
  std::int64_t indexedPhotos_ = 0;
  // A search was handed to the search queue and its answer is not applied yet.
  bool searching_ = false;
  bool openWhenApplied_ = false;

  // Searching: the debounce timer, the job it will start, and the generation of the newest
  // search (read by the queue to skip work already superseded).
  QTimer searchTimer_;
  std::optional<SearchJob> scheduled_;
  std::atomic<std::uint64_t> generation_{0};
  // Moves on when the selection or the query vector changes: a refinement queued before
  // then is not started (the refinement queue reads it).
  std::atomic<std::uint64_t> refineGeneration_{0};
  QTimer refreshTimer_;
  bool refreshPending_ = false;

  // Folders that can be read now, with where (GUI thread only), and the copy the indexer's
  // threads read under accessLock_.
  std::map<std::int64_t, std::filesystem::path> accessing_;
  mutable std::mutex accessLock_;
  std::map<std::int64_t, std::filesystem::path> accessCache_;
};

}  // namespace quillmere
