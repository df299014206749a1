// SPDX-License-Identifier: GPL-3.0-or-later
// SearchModel: the query and filters, the debounced search on the search queue, the
// selection's refinement, image queries, and the window's content state.
#include "SearchModel.h"

#include <QByteArray>
#include <QLocale>
#include <QSettings>
#include <QStringList>
#include <algorithm>
#include <set>
#include <span>
#include <utility>

#include "FolderModel.h"
#include "Format.h"
#include "GuiQueue.h"
#include "OfflineNotes.h"
#include "SerialQueue.h"
#include "core/CaptureTime.h"
#include "index/FrameText.h"
#include "index/Library.h"
#include "model/Embedder.h"
#include "scan/Timecode.h"
#include "search/SearchEngine.h"

namespace quillmere {

SearchModel::SearchModel(SerialQueue& searchQueue, SerialQueue& refineQueue,
                         const FolderModel& folders, Notify notify, QObject* parent)
    : QObject(parent),
      searchQueue_(searchQueue),
      refineQueue_(refineQueue),
      folders_(folders),
      notify_(std::move(notify)),
      gui_(new GuiQueue(this)),
      results_(new ResultListModel(this)) {
  searchTimer_.setSingleShot(true);
  connect(&searchTimer_, &QTimer::timeout, this, &SearchModel::startSearch);
  connect(this, &SearchModel::queryChanged, this, &SearchModel::updateContent);
  connect(this, &SearchModel::imageQueryChanged, this, &SearchModel::updateContent);
  connect(this, &SearchModel::searchedQueryChanged, this, &SearchModel::updateContent);
  connect(results_, &ResultListModel::countChanged, this, &SearchModel::updateContent);
  connect(&folders_, &FolderModel::totalsChanged, this, &SearchModel::updateContent);
  const double saved = QSettings().value(likelyThresholdKey, defaultLikelyThreshold).toDouble();
  likelyThreshold_ = saved > 0 && saved < 1 ? saved : defaultLikelyThreshold;
  results_->setOfflineNote([this](const MediaFile& file) { return offlineNote(file); });
  connect(&folders_, &FolderModel::accessChanged, results_, &ResultListModel::offlineChanged);
  // The selected row moves with the selection and with the rows around it.
  connect(this, &SearchModel::selectionChanged, this, &SearchModel::selectedRowChanged);
  connect(results_, &ResultListModel::rowsInserted, this, &SearchModel::selectedRowChanged);
  connect(results_, &ResultListModel::rowsRemoved, this, &SearchModel::selectedRowChanged);
  connect(results_, &ResultListModel::rowsMoved, this, &SearchModel::selectedRowChanged);
  connect(results_, &ResultListModel::modelReset, this, &SearchModel::selectedRowChanged);
  updateContent();
}

SearchModel::~SearchModel() = default;

void SearchModel::attach(Embedder* embedder, Library* library, SearchEngine* engine) {
  embedder_ = embedder;
  library_ = library;
  engine_ = engine;
  emit likelyAvailableChanged();
}

void SearchModel::setStartupFailed(bool failed) {
  startupFailed_ = failed;
  updateContent();
}

void SearchModel::updateContent() {
  const auto content = [this] {
    if (startupFailed_) return Content::CantStart;
    if (query_.trimmed().isEmpty() && !imageQuery_) return Content::Ready;
    if (results_->rowCount() > 0) return Content::Results;
    if (folders_.totalFrames() == 0) return Content::GettingReady;
    if (!searchedQuery_.isEmpty()) return Content::NothingMatches;
    return Content::None;
  }();
  if (content == content_) return;
  content_ = content;
  emit contentChanged();
}

// ---- Search state ----

void SearchModel::setQuery(const QString& query) {
  if (query == query_) return;
  query_ = query;
  emit queryChanged();
  scheduleSearch(false, false);
}

void SearchModel::setKindFilter(KindFilter filter) {
  if (filter == kindFilter_) return;
  kindFilter_ = filter;
  emit kindFilterChanged();
  scheduleSearch(true, false);
}

QStringList SearchModel::kindFilterNames() const {
  return {tr("All"), tr("Photos"), tr("Videos")};
}

void SearchModel::setWhen(When when) {
  if (when == when_) return;
  // Custom stands for the range typed, which setCustomRange sets.
  if (when == When::Custom && !customRange_.from && !customRange_.before) return;
  when_ = when;
  emit whenChanged();
  scheduleSearch(true, false);
}

QStringList SearchModel::whenNames() const {
  return {tr("Any Time"),  tr("Today"),     tr("This Week"),    tr("This Month"),
          tr("This Year"), tr("Last Year"), tr("Custom Range…")};
}

QString SearchModel::setCustomRange(const QString& from, const QString& to) {
  const auto start = CaptureTime::startOf(from.trimmed().toStdString());
  const auto end = CaptureTime::endOf(to.trimmed().toStdString());
  if (from.trimmed().isEmpty() && to.trimmed().isEmpty())
    return tr("Type the first day or month, the last, or both.");
  if (!from.trimmed().isEmpty() && !start)
    return tr("“%1” is not a day like 2024-06-01 or a month like 2024-06.").arg(from.trimmed());
  if (!to.trimmed().isEmpty() && !end)
    return tr("“%1” is not a day like 2024-06-01 or a month like 2024-06.").arg(to.trimmed());
  if (start && end && *end <= *start) return tr("The range ends before it starts.");
  customFrom_ = from.trimmed();
  customTo_ = to.trimmed();
  customRange_ = {start, end};
  when_ = When::Custom;
  emit whenChanged();
  scheduleSearch(true, false);
  return {};
}

SearchModel::TakenRange SearchModel::takenRange(When when, QDate today, Qt::DayOfWeek firstDay) {
  const auto at = [](QDate day) { return double(day.startOfDay().toSecsSinceEpoch()); };
  const QDate month(today.year(), today.month(), 1);
  const QDate year(today.year(), 1, 1);
  switch (when) {
    case When::Today:
      return {at(today), at(today.addDays(1))};
    case When::ThisWeek: {
      const QDate start = today.addDays(-((today.dayOfWeek() - firstDay + 7) % 7));
      return {at(start), at(start.addDays(7))};
    }
    case When::ThisMonth:
      return {at(month), at(month.addMonths(1))};
    case When::ThisYear:
      return {at(year), at(year.addYears(1))};
    case When::LastYear:
      return {at(year.addYears(-1)), at(year)};
    case When::AnyTime:
    case When::Custom:
      break;
  }
  return {};
}

void SearchModel::setOrder(Order order) {
  if (order == order_) return;
  order_ = order;
  emit orderChanged();
  scheduleSearch(true, false);
}

QStringList SearchModel::orderNames() const {
  return {tr("Best Match"), tr("Newest"), tr("Oldest")};
}

void SearchModel::setLikelyOnly(bool on) {
  if (on == likelyOnly_) return;
  likelyOnly_ = on;
  emit likelyOnlyChanged();
  scheduleSearch(true, false);
}

bool SearchModel::likelyAvailable() const {
  return embedder_ != nullptr;
}

void SearchModel::setLikelyThreshold(double threshold) {
  threshold = std::clamp(threshold, 0.01, 0.99);
  if (threshold == likelyThreshold_) return;
  likelyThreshold_ = threshold;
  QSettings().setValue(likelyThresholdKey, threshold);
  emit likelyThresholdChanged();
  if (likelyOnly_) scheduleSearch(true, false);
}

void SearchModel::setFolderFilter(std::optional<std::int64_t> rootID) {
  if (rootID == folderFilter_) return;
  folderFilter_ = rootID;
  emit folderFilterChanged();
  scheduleSearch(true, false);
}

void SearchModel::forgetFolder(qint64 rootID) {
  if (folderFilter_ != rootID) return;
  folderFilter_.reset();
  emit folderFilterChanged();
}

QVariant SearchModel::folderFilterValue() const {
  return folderFilter_ ? QVariant::fromValue<qint64>(*folderFilter_) : QVariant();
}

void SearchModel::setFolderFilterValue(const QVariant& value) {
  setFolderFilter(value.isValid() && !value.isNull()
                      ? std::optional<std::int64_t>(value.toLongLong())
                      : std::nullopt);
}

QVariant SearchModel::selectionValue() const {
  return selection_ ? QVariant::fromValue<qint64>(*selection_) : QVariant();
}

void SearchModel::setSelectionValue(const QVariant& value) {
  select(value.isValid() && !value.isNull() ? std::optional<std::int64_t>(value.toLongLong())
                                            : std::nullopt);
}

void SearchModel::select(std::optional<std::int64_t> frameID) {
  setSelection(frameID);
  refineSelection();
}

void SearchModel::setSelection(std::optional<std::int64_t> frameID) {
  if (frameID == selection_) return;
  selection_ = frameID;
  ++refineGeneration_;
  emit selectionChanged();
}

int SearchModel::selectedRow() const {
  return selection_ ? results_->rowOf(*selection_) : -1;
}

QString SearchModel::imageQueryName() const {
  return imageQuery_ ? QString::fromStdString(imageQuery_->name) : QString();
}

void SearchModel::setImageQuery(std::optional<ImageQuery> query) {
  if (query == imageQuery_) return;
  imageQuery_ = std::move(query);
  emit imageQueryChanged();
}

void SearchModel::clearImageQuery() {
  setImageQuery(std::nullopt);
  scheduleSearch(true, false);
}

// ---- Searching ----

SearchFilter SearchModel::currentFilter() const {
  SearchFilter filter;
  if (kindFilter_ == KindFilter::Photos) filter.kinds = {MediaKind::photo};
  if (kindFilter_ == KindFilter::Videos) filter.kinds = {MediaKind::video};
  if (folderFilter_) filter.roots = std::set<std::int64_t>{*folderFilter_};
  const QLocale locale;
  const auto range = when_ == When::Custom
                         ? customRange_
                         : takenRange(when_, QDate::currentDate(), locale.firstDayOfWeek());
  filter.takenFrom = range.from;
  filter.takenBefore = range.before;
  if (likelyOnly_ && likelyAvailable()) filter.minProbability = float(likelyThreshold_);
  if (order_ == Order::Newest) filter.order = SearchFilter::Order::newest;
  if (order_ == Order::Oldest) filter.order = SearchFilter::Order::oldest;
  return filter;
}

QStringList SearchModel::appliedWords() const {
  QStringList words;
  if (when_ == When::Custom) {
    if (customFrom_.isEmpty()) {
      words << tr("until %1").arg(customTo_);
    } else if (customTo_.isEmpty()) {
      words << tr("from %1").arg(customFrom_);
    } else {
      words << tr("%1 to %2").arg(customFrom_, customTo_);
    }
  } else if (when_ != When::AnyTime) {
    words << QStringList{{},
                         tr("today"),
                         tr("this week"),
                         tr("this month"),
                         tr("this year"),
                         tr("last year")}[int(when_)];
  }
  if (order_ == Order::Newest) words << tr("newest first");
  if (order_ == Order::Oldest) words << tr("oldest first");
  return words;
}

void SearchModel::scheduleSearch(bool now, bool keepSelection) {
  // A newer search cancels whatever an older one is doing: its answer will be dropped.
  const auto generation = ++generation_;
  searchTimer_.stop();
  scheduled_.reset();
  auto text = SearchEngine::queryText(query_.toStdString());
  if (!imageQuery_ && text.empty()) {
    searching_ = false;
    openWhenApplied_ = false;
    results_->setResults({});
    answered_.reset();
    if (!searchedQuery_.isEmpty()) {
      searchedQuery_.clear();
      emit searchedQueryChanged();
    }
    setSelection(std::nullopt);
    return;
  }
  if (!engine_) return;
  scheduled_ = SearchJob{generation,      std::move(text), imageQuery_,
                         currentFilter(), appliedWords(),  keepSelection};
  // Even a search "now" waits for the event loop, so that changes made together search once.
  searchTimer_.start(now ? std::chrono::milliseconds(0) : typingDelay);
}

void SearchModel::startSearch() {
  if (!scheduled_) return;
  const auto job = *scheduled_;
  scheduled_.reset();
  searching_ = true;
  const auto started = std::chrono::steady_clock::now();
  emit searchStarted();
  searchQueue_.post([this, job, started] {
    if (job.generation != generation_) return;  // superseded while it waited
    auto answer = computeSearch(job);
    gui_->post([this, job, answer = std::move(answer), started]() mutable {
      applyAnswer(job, std::move(answer), started);
    });
  });
}

// On the search queue.
SearchModel::SearchAnswer SearchModel::computeSearch(const SearchJob& job) {
  SearchAnswer answer;
  try {
    // Text goes through the engine's rule for several terms ("beach + sunset - people"), a
    // picture searched by being one more term; the text also finds the words read in pictures.
    answer.vector = engine_->queryVector(
        job.text,
        job.imageQuery ? std::span<const float>(job.imageQuery->vector) : std::span<const float>());
    if (!answer.vector.empty()) {
      answer.results = engine_->search(answer.vector, job.text, job.filter, resultLimit).results;
    }
  } catch (const QueryTerms::Failure& failure) {
    answer.failure = queryFailure(failure).toStdString();
  } catch (const std::exception& failure) {
    answer.failure = failure.what();
  }
  return answer;
}

QString SearchModel::pictureFailure(const MoreLikeThis::Unreadable& failure) {
  using Fault = PictureRegion::Fault;
  if (dynamic_cast<const MoreLikeThis::TooSmall*>(&failure))
    return tr("the region covers less than a pixel of the picture");
  switch (failure.fault()) {
    case Fault::notNumbers:
      return tr("the region's values must be numbers");
    case Fault::startsOutside:
      return tr("the region must start inside the picture (X and Y from 0)");
    case Fault::empty:
      return tr("the region must have a width and a height above 0");
    case Fault::endsOutside:
      return tr("the region must end inside the picture (X+W and Y+H at most 1)");
    case Fault::none:
      break;
  }
  return tr("%1 could not be read as a photo or a video.")
      .arg(QString::fromStdString(failure.what()));
}

QString SearchModel::queryFailure(const QueryTerms::Failure& failure) {
  using Reason = QueryTerms::Failure::Reason;
  switch (failure.reason()) {
    case Reason::onlyNegative:
      return tr("A query needs something to look for: add a term without a minus.");
    case Reason::cancelled:
      return tr("The query's terms cancel each other out.");
    case Reason::weightOutOfRange:
      break;
  }
  return tr("The weight %1 cannot be used: a term's weight lies between %2 and %3.")
      .arg(QString::fromStdString(failure.what()),
           QString::number(QueryTerms::Failure::lowestWeight, 'g', 2),
           QString::number(QueryTerms::Failure::highestWeight, 'g', 2));
}

QString SearchModel::searchedName(const SearchJob& job) {
  const auto text = QString::fromStdString(job.text);
  if (!job.imageQuery) return text;
  const auto name = QString::fromStdString(job.imageQuery->name);
  if (text.isEmpty()) return name;
  const bool joined = text.startsWith(u'+') || text.startsWith(u'-');
  return name + (joined ? QStringLiteral(" ") : QStringLiteral(" + ")) + text;
}

void SearchModel::applyAnswer(const SearchJob& job, SearchAnswer answer,
                              std::chrono::steady_clock::time_point started) {
  if (job.generation != generation_) return;
  searching_ = false;
  if (answer.failure) {
    openWhenApplied_ = false;
    // The previous results stay; the user learns why nothing changed.
    notify_(QString::fromStdString(*answer.failure));
    return;
  }
  const auto remembered = selection_;
  if (lastQueryVector_ != answer.vector) ++refineGeneration_;
  lastQueryVector_ = std::move(answer.vector);
  results_->setResults(std::move(answer.results));
  const auto searched = searchedName(job);
  if (searched != searchedQuery_) {
    searchedQuery_ = searched;
    emit searchedQueryChanged();
  }
  lastSearchMS_ =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  emit lastSearchMSChanged();
  momentsLine_ = Format::moments(results_->rowCount(), lastSearchMS_, job.filter.minProbability > 0,
                                 job.applied);
  emit momentsLineChanged();
  ++answerCount_;
  emit answerCountChanged();
  // A re-run for the question on show keeps its selection; a new question (typed while files
  // were indexed, say) starts from its top with no exact times.
  const Question question{job.text, job.imageQuery, job.filter};
  const bool kept =
      job.keepSelection && answered_ == question && remembered && results_->row(*remembered);
  answered_ = question;
  if (!kept) {
    const auto& results = results_->results();
    setSelection(results.empty() ? std::nullopt
                                 : std::optional<std::int64_t>(results.front().frameID));
    results_->clearExactTimes();
    emit exactTimesChanged();
    emit resultsReplaced();
  }
  emit searchApplied();
  if (std::exchange(openWhenApplied_, false) && selection_) emit openRequested(*selection_);
  refineSelection();
}

std::optional<SearchResult> SearchModel::selectedResult() const {
  if (!selection_) return std::nullopt;
  const auto row = results_->row(*selection_);
  if (!row) return std::nullopt;
  return results_->results()[static_cast<std::size_t>(*row)];
}

double SearchModel::openTime(const SearchResult& result) const {
  return results_->openTime(result);
}

void SearchModel::refineSelection() {
  const auto result = selectedResult();
  if (!result || result->file.kind != MediaKind::video) return;
  // A moment found by its text opens at the frame the words were read in.
  if (result->foundByText()) return;
  if (exactTimes().contains(result->frameID)) return;
  const auto location = folders_.filePath(result->file);
  if (!location || !lastQueryVector_ || !engine_) return;
  emit refinementStarted(result->frameID);
  refineQueue_.post([this, generation = refineGeneration_.load(), result = *result,
                     query = *lastQueryVector_, location = *location] {
    // Quick moves through the results queue one refinement each: only the newest is made.
    if (generation != refineGeneration_) return;
    const auto refined = engine_->refine(result, query, location);
    gui_->post([this, frameID = result.frameID, query, time = refined.time] {
      // An answer for an older search's vector would pin the wrong time on the frame.
      if (lastQueryVector_ != query) return;
      results_->setExactTime(frameID, time);
      emit exactTimesChanged();
    });
  });
}

void SearchModel::useImageQuery(ImageQuery query) {
  setImageQuery(std::move(query));
  setQuery(QString());
  scheduleSearch(true, false);
}

void SearchModel::prepareImageQuery(std::function<ImageQuery()> make) {
  searchQueue_.post([this, make = std::move(make)] {
    ImageQuery query;
    try {
      query = make();
    } catch (const MoreLikeThis::Unreadable& failure) {
      // The query stays as it was; the user learns why nothing changed.
      gui_->post([this, message = pictureFailure(failure)] { notify_(message); });
      return;
    } catch (const std::exception& failure) {
      gui_->post([this, message = QString::fromStdString(failure.what())] { notify_(message); });
      return;
    }
    gui_->post([this, query = std::move(query)] { useImageQuery(query); });
  });
}

void SearchModel::searchByImage(const QString& path) {
  if (!embedder_ || !library_) return;
  prepareImageQuery([this, path = std::filesystem::path(path.toStdString())] {
    return MoreLikeThis::file(*library_, *embedder_, path, std::nullopt);
  });
}

void SearchModel::searchRegion(qint64 frameID, double seconds, qreal x, qreal y, qreal width,
                               qreal height) {
  const auto row = results_->row(frameID);
  if (!embedder_ || !row) return;
  const MediaFile& file = results_->results()[static_cast<std::size_t>(*row)].file;
  const auto path = folders_.filePath(file);
  if (!path) return;  // offline
  const auto time = file.kind == MediaKind::video ? std::optional(seconds) : std::nullopt;
  const PictureRegion region{x, y, width, height};
  prepareImageQuery([this, path = *path, time, region] {
    return MoreLikeThis::region(*embedder_, path, time, region);
  });
}

QString SearchModel::imageQueryThumbnail() const {
  if (!imageQuery_ || imageQuery_->thumbnail.empty()) return {};
  const auto bytes =
      QByteArray::fromRawData(reinterpret_cast<const char*>(imageQuery_->thumbnail.data()),
                              static_cast<qsizetype>(imageQuery_->thumbnail.size()));
  return QStringLiteral("data:image/jpeg;base64,") + QString::fromLatin1(bytes.toBase64());
}

void SearchModel::moreLikeThis(const SearchResult& result) {
  if (!library_) return;
  if (auto query = MoreLikeThis::frame(*library_, result.file, result.frameID, result.time)) {
    useImageQuery(std::move(*query));
  }
}

void SearchModel::moreLikeThis(qint64 frameID) {
  if (const auto row = results_->row(frameID)) {
    moreLikeThis(results_->results()[static_cast<std::size_t>(*row)]);
  }
}

std::optional<SearchResult> SearchModel::storedFrame(std::int64_t fileID,
                                                     std::int64_t frameID) const {
  const auto file = library_ ? library_->file(fileID) : std::nullopt;
  if (!file) return std::nullopt;
  for (const VectorIndex::Row& row : library_->vectors().rows(fileID)) {
    if (row.frameID == frameID) return SearchResult{frameID, *file, row.time, 0, 0};
  }
  return std::nullopt;
}

// ---- For the main window ----

std::optional<ModelInfo> SearchModel::modelInfo() const {
  if (!embedder_) return std::nullopt;
  return embedder_->info();
}

QString SearchModel::offlineNote(const MediaFile& file) const {
  return OfflineNotes::tile(folders_.isOnline(file), folders_.folder(file));
}

QUrl SearchModel::fileUrl(qint64 frameID) const {
  const auto row = results_->row(frameID);
  if (!row) return {};
  const auto path = folders_.filePath(results_->results()[*row].file);
  return path ? QUrl::fromLocalFile(QString::fromStdString(path->string())) : QUrl();
}

QString SearchModel::readText(qint64 frameID) const {
  const auto row = results_->row(frameID);
  if (!row || !library_) return {};
  const auto& result = results_->results()[*row];
  QStringList lines;
  try {
    for (const TextLine& line : FrameText::near(*library_, result.file.id, result.time).text.lines)
      lines.push_back(QString::fromStdString(line.text));
  } catch (const std::exception&) {
    // The preview goes on without the text; the next search reads the library again.
  }
  return lines.join(u'\n');
}

QString SearchModel::openTimecode(qint64 frameID, bool full) const {
  const auto row = results_->row(frameID);
  if (!row) return {};
  const auto& result = results_->results()[*row];
  if (result.file.kind != MediaKind::video) return {};
  const double time = openTime(result);
  return QString::fromStdString(full ? timecode(time) : shortTimecode(time));
}

void SearchModel::openSelectedWhenSearched() {
  if (scheduled_) {
    searchTimer_.stop();
    startSearch();
  }
  if (searching_) {
    openWhenApplied_ = true;
  } else if (selection_) {
    emit openRequested(*selection_);
  }
}

}  // namespace quillmere
