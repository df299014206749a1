// SPDX-License-Identifier: GPL-3.0-or-later
// The search the main window shows: the query (typed or an image), the filters, the results,
// the selection and its refined opening time, and which content the window shows. Lives on
// the GUI thread. Searches run on the serial search queue, refinements on a queue of their
// own; their answers come back as queued calls (GuiQueue) and touch no state before that.
#pragma once

#include <QDate>
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
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ResultListModel.h"
#include "model/ModelInfo.h"
#include "search/MoreLikeThis.h"
#include "search/QueryTerms.h"
#include "search/SearchFilter.h"

namespace quillmere {

class Embedder;
class FolderModel;
class GuiQueue;
class Library;
class SearchEngine;
class SerialQueue;

class SearchModel : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
  Q_PROPERTY(KindFilter kindFilter READ kindFilter WRITE setKindFilter NOTIFY kindFilterChanged)
  Q_PROPERTY(QStringList kindFilterNames READ kindFilterNames CONSTANT)
  // When the moments were taken, in this computer's time zone.
  Q_PROPERTY(When when READ when WRITE setWhen NOTIFY whenChanged)
  Q_PROPERTY(QStringList whenNames READ whenNames CONSTANT)
  // The custom range as typed, a day ("2024-06-01") or a month; empty for an open side.
  Q_PROPERTY(QString customFrom READ customFrom NOTIFY whenChanged)
  Q_PROPERTY(QString customTo READ customTo NOTIFY whenChanged)
  Q_PROPERTY(Order order READ order WRITE setOrder NOTIFY orderChanged)
  Q_PROPERTY(QStringList orderNames READ orderNames CONSTANT)
  // Only moments at least likelyThreshold likely to match, by the probability each result
  // shows; offered once a model is loaded.
  Q_PROPERTY(bool likelyOnly READ likelyOnly WRITE setLikelyOnly NOTIFY likelyOnlyChanged)
  Q_PROPERTY(bool likelyAvailable READ likelyAvailable NOTIFY likelyAvailableChanged)
  Q_PROPERTY(double likelyThreshold READ likelyThreshold WRITE setLikelyThreshold NOTIFY
                 likelyThresholdChanged)
  // How many moments are shown, what they were filtered and ordered by, and the search's time.
  Q_PROPERTY(QString momentsLine READ momentsLine NOTIFY momentsLineChanged)
  // A root id, or null for every folder.
  Q_PROPERTY(QVariant folderFilter READ folderFilterValue WRITE setFolderFilterValue NOTIFY
                 folderFilterChanged)
  Q_PROPERTY(QString searchedQuery READ searchedQuery NOTIFY searchedQueryChanged)
  Q_PROPERTY(double lastSearchMS READ lastSearchMS NOTIFY lastSearchMSChanged)
  // Counts the answers applied: a view that reads the library for a result (its text) reads
  // again at each, since a re-run may follow what indexing added to the same frame.
  Q_PROPERTY(int answerCount READ answerCount NOTIFY answerCountChanged)
  // A frame id, or null.
  Q_PROPERTY(QVariant selection READ selectionValue WRITE setSelectionValue NOTIFY selectionChanged)
  // The selection's row in results, or -1.
  Q_PROPERTY(int selectedRow READ selectedRow NOTIFY selectedRowChanged)
  // The image query's name, empty without one.
  Q_PROPERTY(QString imageQueryName READ imageQueryName NOTIFY imageQueryChanged)
  // A data URL of the image query's thumbnail (a region's), empty without one.
  Q_PROPERTY(QString imageQueryThumbnail READ imageQueryThumbnail NOTIFY imageQueryChanged)
  Q_PROPERTY(ResultListModel* results READ results CONSTANT)
  // What the window's detail area shows.
  Q_PROPERTY(Content content READ content NOTIFY contentChanged)

 public:
  enum class KindFilter { All, Photos, Videos };
  Q_ENUM(KindFilter)
  enum class When { AnyTime, Today, ThisWeek, ThisMonth, ThisYear, LastYear, Custom };
  Q_ENUM(When)
  enum class Order { Best, Newest, Oldest };
  Q_ENUM(Order)
  // Decided in this order: start-up failed; no query; results; nothing indexed yet; a
  // searched query matched nothing; a search still on its way.
  enum class Content { CantStart, Ready, Results, GettingReady, NothingMatches, None };
  Q_ENUM(Content)

  using ImageQuery = MoreLikeThis::ImageQuery;
  // Shows a text in the window's notice bar.
  using Notify = std::function<void(const QString&)>;

  static constexpr std::chrono::milliseconds typingDelay{90};
  static constexpr std::size_t resultLimit = 300;
  static constexpr double defaultLikelyThreshold = 0.10;
  static constexpr const char* likelyThresholdKey = "search/likelyThreshold";

  // The capture times a choice covers, from its start to before its end, for a day `today`
  // in local time and weeks that begin on `firstDay`; Any Time and Custom cover everything.
  struct TakenRange {
    std::optional<double> from;
    std::optional<double> before;
    bool operator==(const TakenRange&) const = default;
  };
  static TakenRange takenRange(When when, QDate today, Qt::DayOfWeek firstDay);

  // Searches on searchQueue and refines on refineQueue (both outlive the model); reads where
  // files are from folders.
  SearchModel(SerialQueue& searchQueue, SerialQueue& refineQueue, const FolderModel& folders,
              Notify notify, QObject* parent = nullptr);
  ~SearchModel() override;

  // The engine to search with; until a library and an engine are given, nothing is searched.
  void attach(Embedder* embedder, Library* library, SearchEngine* engine);
  // Start-up failed: the window says so instead of searching.
  void setStartupFailed(bool failed);
  // The search model the embedder given runs; absent when none is.
  std::optional<ModelInfo> modelInfo() const;

  QString query() const { return query_; }
  void setQuery(const QString& query);
  KindFilter kindFilter() const { return kindFilter_; }
  void setKindFilter(KindFilter filter);
  QStringList kindFilterNames() const;
  std::optional<std::int64_t> folderFilter() const { return folderFilter_; }
  void setFolderFilter(std::optional<std::int64_t> rootID);
  When when() const { return when_; }
  void setWhen(When when);
  QStringList whenNames() const;
  QString customFrom() const { return customFrom_; }
  QString customTo() const { return customTo_; }
  // Filters by the range typed; returns why it can't (and changes nothing), or "" when taken.
  Q_INVOKABLE QString setCustomRange(const QString& from, const QString& to);
  Order order() const { return order_; }
  void setOrder(Order order);
  QStringList orderNames() const;
  bool likelyOnly() const { return likelyOnly_; }
  void setLikelyOnly(bool on);
  bool likelyAvailable() const;
  double likelyThreshold() const { return likelyThreshold_; }
  // Kept for the next start too.
  void setLikelyThreshold(double threshold);
  QString momentsLine() const { return momentsLine_; }
  QString searchedQuery() const { return searchedQuery_; }
  double lastSearchMS() const { return lastSearchMS_; }
  int answerCount() const { return answerCount_; }
  std::optional<std::int64_t> selection() const { return selection_; }
  int selectedRow() const;
  // Selects a result (or none) and starts its refinement.
  void select(std::optional<std::int64_t> frameID);
  const std::optional<ImageQuery>& imageQuery() const { return imageQuery_; }
  QString imageQueryName() const;
  Q_INVOKABLE void clearImageQuery();
  const std::map<std::int64_t, double>& exactTimes() const { return results_->exactTimes(); }
  ResultListModel* results() const { return results_; }
  Content content() const { return content_; }

  // The single entry point that (re)runs a search.
  void scheduleSearch(bool now, bool keepSelection);
  std::optional<SearchResult> selectedResult() const;
  double openTime(const SearchResult& result) const;
  void refineSelection();
  // An image query from a photo file, or a video's middle frame (prepared on the search queue).
  Q_INVOKABLE void searchByImage(const QString& path);
  // An image query from a region of a listed result's picture, in fractions of the upright
  // picture: a video's frame at `seconds`; prepared on the search queue. A region that cannot
  // be cut leaves the query as it was.
  Q_INVOKABLE void searchRegion(qint64 frameID, double seconds, qreal x, qreal y, qreal width,
                                qreal height);
  QString imageQueryThumbnail() const;
  // An image query from a result's stored frame.
  void moreLikeThis(const SearchResult& result);
  Q_INVOKABLE void moreLikeThis(qint64 frameID);
  // The stored frame frameID of the file fileID as a result without a score, for a picture
  // of a frame that is not among the search results; nothing when either is gone.
  std::optional<SearchResult> storedFrame(std::int64_t fileID, std::int64_t frameID) const;
  // The folder filter goes with its folder.
  void forgetFolder(qint64 rootID);

  // The result's file, or an empty URL while its folder is offline.
  Q_INVOKABLE QUrl fileUrl(qint64 frameID) const;
  // Every line read in a listed result's frame, one a line; empty when none was read, the
  // frame is not listed or the library cannot be read.
  Q_INVOKABLE QString readText(qint64 frameID) const;
  // A listed video result's opening time (refined when known) as "1:15", or with full
  // "00:01:15"; empty for a photo or a frame not listed.
  Q_INVOKABLE QString openTimecode(qint64 frameID, bool full) const;
  // Return in the search field: a search still waiting or running is run at once and its
  // first result asked to open (openRequested) when it is applied; otherwise the selection.
  Q_INVOKABLE void openSelectedWhenSearched();

 signals:
  void queryChanged();
  void kindFilterChanged();
  void whenChanged();
  void orderChanged();
  void likelyOnlyChanged();
  void likelyAvailableChanged();
  void likelyThresholdChanged();
  void momentsLineChanged();
  void folderFilterChanged();
  void searchedQueryChanged();
  void lastSearchMSChanged();
  void answerCountChanged();
  void selectionChanged();
  void selectedRowChanged();
  void imageQueryChanged();
  void exactTimesChanged();
  void contentChanged();
  // A search's work was handed to the search queue.
  void searchStarted();
  // A search's answer was applied.
  void searchApplied();
  // The answer of a new search (not a re-run keeping the selection) replaced the results:
  // the views show it from its top, even when its first result was selected before.
  void resultsReplaced();
  // A refinement of this frame's time was started.
  void refinementStarted(qint64 frameID);
  // The window should open this result (Return in the search field).
  void openRequested(qint64 frameID);

 private:
  // What one search was asked with, captured when it was scheduled.
  struct SearchJob {
    std::uint64_t generation = 0;
    std::string text;
    std::optional<ImageQuery> imageQuery;
    SearchFilter filter;
    QStringList applied;  // the filter and order, as the moments line says them
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

  void startSearch();
  // What a search is called ("Nothing matches …", an export's name): its picture's name, its
  // text, or both ("beach.jpg + at night").
  static QString searchedName(const SearchJob& job);
  static QString queryFailure(const QueryTerms::Failure& failure);
  static QString pictureFailure(const MoreLikeThis::Unreadable& failure);
  SearchAnswer computeSearch(const SearchJob& job);
  void applyAnswer(const SearchJob& job, SearchAnswer answer,
                   std::chrono::steady_clock::time_point started);
  void setSelection(std::optional<std::int64_t> frameID);
  void setImageQuery(std::optional<ImageQuery> query);
  void useImageQuery(ImageQuery query);
  // Makes an image query on the search queue and uses it; a failure is shown instead.
  void prepareImageQuery(std::function<ImageQuery()> make);
  SearchFilter currentFilter() const;
  // The date range and order in words ("this month", "newest first"), as the filter applies.
  QStringList appliedWords() const;
  // For a result tile: "On <drive> — not connected" while the file's folder is offline, else
  // empty.
  QString offlineNote(const MediaFile& file) const;
  void updateContent();

  QVariant folderFilterValue() const;
  void setFolderFilterValue(const QVariant& value);
  QVariant selectionValue() const;
  void setSelectionValue(const QVariant& value);

  SerialQueue& searchQueue_;
  SerialQueue& refineQueue_;
  const FolderModel& folders_;
  Notify notify_;
  Embedder* embedder_ = nullptr;
  Library* library_ = nullptr;
  SearchEngine* engine_ = nullptr;
  bool startupFailed_ = false;

  GuiQueue* gui_;  // where the queues' answers come back
  ResultListModel* results_;
  QString query_;
  KindFilter kindFilter_ = KindFilter::All;
  std::optional<std::int64_t> folderFilter_;
  When when_ = When::AnyTime;
  QString customFrom_;
  QString customTo_;
  TakenRange customRange_;
  Order order_ = Order::Best;
  bool likelyOnly_ = false;
  double likelyThreshold_ = defaultLikelyThreshold;
  QString momentsLine_;
  QString searchedQuery_;
  double lastSearchMS_ = 0;
  int answerCount_ = 0;
  std::optional<std::int64_t> selection_;
  std::optional<ImageQuery> imageQuery_;
  // What the results on show answered; absent while none are.
  std::optional<Question> answered_;
  std::optional<std::vector<float>> lastQueryVector_;
  Content content_ = Content::None;
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
};

}  // namespace quillmere
