// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppModel.h"

#include <algorithm>
#include <set>
#include <system_error>
#include <utility>

#include "Actions.h"
#include "GuiQueue.h"
#include "IndexingStatus.h"
#include "SearchQueue.h"
#include "Thumbnails.h"
#include "VolumeWatcher.h"
#include "core/Float16.h"
#include "model/Embedder.h"
#include "platform/PowerMonitor.h"
#include "scan/FolderWatcher.h"
#include "scan/FrameSampler.h"
#include "scan/Scanner.h"
#include "scan/Timecode.h"
#include "search/SearchEngine.h"

namespace quillmere {
namespace {

constexpr const char* missingModel = "The search model is missing. Reinstall Quillmere.";
constexpr const char* notReady = "Quillmere isn't ready.";
constexpr const char* busyAdding =
    "Another Quillmere process is indexing this library. Add the folder when it is done.";

bool isDirectory(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

}  // namespace

AppModel::AppModel(Setup setup, QObject* parent)
    : QObject(parent),
      setup_(std::move(setup)),
      searchQueue_(std::make_unique<SearchQueue>("quillmere.search")),
      refineQueue_(std::make_unique<SearchQueue>("quillmere.refine")),
      thumbnails_(std::make_unique<Thumbnails>()),
      gui_(new GuiQueue(this)),
      folders_(new FolderListModel(this)),
      results_(new ResultListModel(this)),
      actions_(new Actions(*this, this)),
      indexing_(new IndexingStatus(*this, this)) {
  searchTimer_.setSingleShot(true);
  connect(&searchTimer_, &QTimer::timeout, this, &AppModel::startSearch);
  refreshTimer_.setSingleShot(true);
  refreshTimer_.setInterval(refreshInterval);
  connect(&refreshTimer_, &QTimer::timeout, this, &AppModel::finishRefresh);
  start();
}

AppModel::AppModel(QObject* parent) : AppModel(Setup{}, parent) {}

AppModel::~AppModel() {
  // Every thread that may post back to the model, or read its library, ends before the model
  // does.
  thumbnails_.reset();
  watcher_.reset();
  indexer_.reset();
  refineQueue_.reset();
  searchQueue_.reset();
}

// Start-up: the embedder and the library; when the library holds another model's frames,
// nothing goes further (and nothing is dropped) until the user chooses to index again.
void AppModel::start() {
  if (!openLibrary(Library::Opening::keepFrames)) return;
  if (!lock_ && !library_->modelMatches()) {
    // Nothing can be indexed again while another process writes: say so and stop here.
    startupError_ = QString::fromStdString(
        LibraryLock::Busy(setup_.libraryURL.value_or(Library::defaultURL())).what());
    library_.reset();
    embedder_.reset();
    return;
  }
  if (!lock_) setNotice(busyNotice);
  if (!library_->modelMatches()) {
    modelChange_ = QString::fromStdString(
        "The library was indexed with " + library_->storedModelSignature().value_or("") +
        "; using " + embedder_->info().signature() + " means indexing every file again.");
    library_.reset();
    return;
  }
  startEngine();
}

void AppModel::indexAgain() {
  if (modelChange_.isEmpty()) return;
  modelChange_.clear();
  emit modelChangeChanged();
  if (openLibrary(Library::Opening::adopt)) startEngine();
  emit readyChanged();
}

// Then the search engine and the indexer with its wiring, the warm-up, folders, the
// watchers, a run over every folder that can be read, and the totals.
void AppModel::startEngine() {
  engine_ = std::make_unique<SearchEngine>(*library_, *embedder_);
  engine_->momentWindow = 8.0;
  engine_->repeatPenalty = 0.012f;
  auto conditions = setup_.conditions ? setup_.conditions : std::make_shared<const PowerMonitor>();
  // Reading only, while another process writes the library: search, but index nothing.
  if (lock_) {
    indexer_ = std::make_unique<Indexer>(*library_, *embedder_,
                                         Indexer::Policy{FrameSampler::VideoPlan{}}, conditions);
    wireIndexer();
  }
  searchQueue_->post([embedder = embedder_.get()] {
    try {
      embedder->prepareText();
    } catch (const std::exception&) {
      // A failed warm-up is tried again by the first search.
    }
  });
  volumes_ = new VolumeWatcher(setup_.systemRoot, this);
  resolveFolders();
  watcher_ = std::make_unique<FolderWatcher>([this](const std::set<std::int64_t>& roots) {
    gui_->post([this, roots] {
      if (indexer_) indexer_->run(std::vector<std::int64_t>(roots.begin(), roots.end()));
    });
  });
  watchFolders();
  connect(volumes_, &VolumeWatcher::changed, this, &AppModel::volumesChanged);
  // Every folder that can be read; one that cannot is not even listed to the indexer, which
  // would otherwise read whatever directory now stands at its path.
  std::vector<std::int64_t> reachable;
  for (const auto& entry : accessing_) reachable.push_back(entry.first);
  if (indexer_) indexer_->run(reachable);
  refreshTotals();
}

bool AppModel::openLibrary(Library::Opening opening) {
  const auto directory =
      setup_.modelDirectory ? setup_.modelDirectory : Embedder::defaultDirectory();
  if (!directory) {
    startupError_ = missingModel;
    return false;
  }
  const auto url = setup_.libraryURL.value_or(Library::defaultURL());
  if (!lock_) {
    try {
      lock_ = std::make_unique<LibraryLock>(url);
    } catch (const LibraryLock::Busy&) {
      opening = Library::Opening::readOnly;
    } catch (const std::exception& failure) {
      startupError_ = QString::fromStdString(failure.what());
      return false;
    }
  }
  try {
    if (!embedder_) {
      embedder_ = std::make_unique<Embedder>(*directory, Embedder::ComputeUnits::allCores(),
                                             Embedder::ComputeUnits::oneThread());
    }
    library_ = std::make_unique<Library>(url, embedder_->info().dim, embedder_->info().signature(),
                                         opening);
  } catch (const std::exception& failure) {
    // Not ready: none of the engine stays.
    embedder_.reset();
    startupError_ = QString::fromStdString(failure.what());
    return false;
  }
  return true;
}

// The indexer's callbacks run on its threads: they read the access copy under its lock, or
// hop to the GUI thread.
void AppModel::wireIndexer() {
  indexer_->reachableURL = [this](const Root& root) { return reachableURL(root); };
  indexer_->onProgress = [this](const Indexer::Progress& progress) {
    gui_->post([this, progress] {
      progress_ = progress;
      emit progressChanged();
      if (progress.phase.kind == Indexer::Phase::Kind::idle) refreshTotals();
    });
  };
  indexer_->onFileIndexed = [this](const MediaFile&) {
    gui_->post([this] { indexedFileRefresh(); });
  };
}

std::optional<std::filesystem::path> AppModel::reachableURL(const Root& root) const {
  std::lock_guard guard(accessLock_);
  const auto found = accessCache_.find(root.id);
  if (found == accessCache_.end()) return std::nullopt;
  return found->second;
}

std::filesystem::path AppModel::libraryURL() const {
  return setup_.libraryURL.value_or(Library::defaultURL());
}

std::optional<ModelInfo> AppModel::modelInfo() const {
  if (!embedder_) return std::nullopt;
  return embedder_->info();
}

QStringList AppModel::exampleQueries() const {
  const auto info = modelInfo();
  // The demo model knows colours, light and a coarse layout; promise nothing more of it.
  if (!info || info->isDemo()) {
    return {tr("red"),           tr("blue sky"),   tr("dark night"),       tr("green grass"),
            tr("orange sunset"), tr("white snow"), tr("bright and sunny"), tr("pink flower")};
  }
  return {tr("red car at night"),          tr("whiteboard with a diagram"),
          tr("dog running on the beach"),  tr("birthday cake with candles"),
          tr("snowy mountains"),           tr("people dancing at a concert"),
          tr("drone shot of a coastline"), tr("cooking in a kitchen")};
}

// ---- Search state ----

void AppModel::setQuery(const QString& query) {
  if (query == query_) return;
  query_ = query;
  emit queryChanged();
  scheduleSearch(false, false);
}

void AppModel::setKindFilter(KindFilter filter) {
  if (filter == kindFilter_) return;
  kindFilter_ = filter;
  emit kindFilterChanged();
  scheduleSearch(true, false);
}

QStringList AppModel::kindFilterNames() const {
  return {"All", "Photos", "Videos"};
}

void AppModel::setFolderFilter(std::optional<std::int64_t> rootID) {
  if (rootID == folderFilter_) return;
  folderFilter_ = rootID;
  emit folderFilterChanged();
  scheduleSearch(true, false);
}

QVariant AppModel::folderFilterValue() const {
  return folderFilter_ ? QVariant::fromValue<qint64>(*folderFilter_) : QVariant();
}

void AppModel::setFolderFilterValue(const QVariant& value) {
  setFolderFilter(value.isValid() && !value.isNull()
                      ? std::optional<std::int64_t>(value.toLongLong())
                      : std::nullopt);
}

QVariant AppModel::selectionValue() const {
  return selection_ ? QVariant::fromValue<qint64>(*selection_) : QVariant();
}

void AppModel::setSelectionValue(const QVariant& value) {
  select(value.isValid() && !value.isNull() ? std::optional<std::int64_t>(value.toLongLong())
                                            : std::nullopt);
}

void AppModel::select(std::optional<std::int64_t> frameID) {
  setSelection(frameID);
  refineSelection();
}

void AppModel::setSelection(std::optional<std::int64_t> frameID) {
  if (frameID == selection_) return;
  selection_ = frameID;
  ++refineGeneration_;
  emit selectionChanged();
}

QString AppModel::imageQueryName() const {
  return imageQuery_ ? QString::fromStdString(imageQuery_->name) : QString();
}

void AppModel::setImageQuery(std::optional<ImageQuery> query) {
  if (query == imageQuery_) return;
  imageQuery_ = std::move(query);
  emit imageQueryChanged();
}

void AppModel::clearImageQuery() {
  setImageQuery(std::nullopt);
  scheduleSearch(true, false);
}

void AppModel::setNotice(const QString& notice) {
  if (notice.isEmpty() && notice_.isEmpty()) return;
  notice_ = notice;
  emit noticeChanged();
}

// ---- Searching ----

SearchFilter AppModel::currentFilter() const {
  SearchFilter filter;
  if (kindFilter_ == KindFilter::Photos) filter.kinds = {MediaKind::photo};
  if (kindFilter_ == KindFilter::Videos) filter.kinds = {MediaKind::video};
  if (folderFilter_) filter.roots = std::set<std::int64_t>{*folderFilter_};
  return filter;
}

void AppModel::scheduleSearch(bool now, bool keepSelection) {
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
  scheduled_ = SearchJob{generation, std::move(text), imageQuery_, currentFilter(), keepSelection};
  // Even a search "now" waits for the event loop, so that changes made together search once.
  searchTimer_.start(now ? std::chrono::milliseconds(0) : typingDelay);
}

void AppModel::startSearch() {
  if (!scheduled_) return;
  const auto job = *scheduled_;
  scheduled_.reset();
  searching_ = true;
  const auto started = std::chrono::steady_clock::now();
  emit searchStarted();
  searchQueue_->post([this, job, started] {
    if (job.generation != generation_) return;  // superseded while it waited
    auto answer = computeSearch(job);
    gui_->post([this, job, answer = std::move(answer), started]() mutable {
      applyAnswer(job, std::move(answer), started);
    });
  });
}

// On the search queue.
AppModel::SearchAnswer AppModel::computeSearch(const SearchJob& job) {
  SearchAnswer answer;
  try {
    answer.vector = job.imageQuery ? job.imageQuery->vector : embedder_->embed(job.text);
    answer.results = engine_->search(answer.vector, job.filter, resultLimit).results;
  } catch (const std::exception& failure) {
    answer.failure = failure.what();
  }
  return answer;
}

void AppModel::applyAnswer(const SearchJob& job, SearchAnswer answer,
                           std::chrono::steady_clock::time_point started) {
  if (job.generation != generation_) return;
  searching_ = false;
  if (answer.failure) {
    openWhenApplied_ = false;
    // The previous results stay; the user learns why nothing changed.
    setNotice(QString::fromStdString(*answer.failure));
    return;
  }
  const auto remembered = selection_;
  if (lastQueryVector_ != answer.vector) ++refineGeneration_;
  lastQueryVector_ = std::move(answer.vector);
  results_->setResults(std::move(answer.results));
  const auto searched = QString::fromStdString(job.imageQuery ? job.imageQuery->name : job.text);
  if (searched != searchedQuery_) {
    searchedQuery_ = searched;
    emit searchedQueryChanged();
  }
  lastSearchMS_ =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  emit lastSearchMSChanged();
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
    exactTimes_.clear();
    emit exactTimesChanged();
    emit resultsReplaced();
  }
  emit searchApplied();
  if (std::exchange(openWhenApplied_, false) && selection_) emit openRequested(*selection_);
  refineSelection();
}

std::optional<SearchResult> AppModel::selectedResult() const {
  if (!selection_) return std::nullopt;
  const auto row = results_->row(*selection_);
  if (!row) return std::nullopt;
  return results_->results()[static_cast<std::size_t>(*row)];
}

double AppModel::openTime(const SearchResult& result) const {
  const auto found = exactTimes_.find(result.frameID);
  return found != exactTimes_.end() ? found->second : result.time;
}

void AppModel::refineSelection() {
  const auto result = selectedResult();
  if (!result || result->file.kind != MediaKind::video) return;
  if (exactTimes_.contains(result->frameID)) return;
  const auto location = url(result->file);
  if (!location || !lastQueryVector_ || !engine_) return;
  emit refinementStarted(result->frameID);
  refineQueue_->post([this, generation = refineGeneration_.load(), result = *result,
                      query = *lastQueryVector_, location = *location] {
    // Quick moves through the results queue one refinement each: only the newest is made.
    if (generation != refineGeneration_) return;
    const auto refined = engine_->refine(result, query, location);
    gui_->post([this, frameID = result.frameID, query, time = refined.time] {
      // An answer for an older search's vector would pin the wrong time on the frame.
      if (lastQueryVector_ != query) return;
      exactTimes_[frameID] = time;
      emit exactTimesChanged();
    });
  });
}

void AppModel::useImageQuery(ImageQuery query) {
  setImageQuery(std::move(query));
  setQuery(QString());
  scheduleSearch(true, false);
}

namespace {

struct QueryPicture {
  std::string name;
  Picture image;
};

// What a file stands for as an image query: a photo itself; a video its middle frame, named
// with that frame's time.
std::optional<QueryPicture> queryPicture(const std::filesystem::path& path, std::int64_t pixels) {
  if (Scanner::kind(path) == MediaKind::video) {
    const double time = FrameSampler::videoInfo(path).duration / 2;
    auto frames = FrameSampler::frames(path, std::vector<double>{time}, pixels);
    if (frames.empty()) return std::nullopt;
    MediaFile file;
    file.relPath = path.filename().string();
    file.kind = MediaKind::video;
    return QueryPicture{MoreLikeThis::name(file, time), std::move(frames.front().image)};
  }
  auto sampled = FrameSampler::photo(path, pixels);
  if (sampled.frames.empty()) return std::nullopt;
  return QueryPicture{path.filename().string(), std::move(sampled.frames.front().image)};
}

}  // namespace

void AppModel::searchByImage(const QString& path) {
  if (!embedder_) return;
  searchQueue_->post([this, path = std::filesystem::path(path.toStdString())] {
    ImageQuery query;
    try {
      auto picture = queryPicture(path, queryPixels);
      if (!picture) return;
      const std::vector<Picture> images{std::move(picture->image)};
      const auto vectors = embedder_->embed(images);
      if (vectors.empty()) return;
      query = ImageQuery{std::move(picture->name), floatsFromHalves(vectors.front())};
    } catch (const std::exception&) {
      return;  // an unreadable file leaves the query as it was
    }
    gui_->post([this, query = std::move(query)] { useImageQuery(query); });
  });
}

void AppModel::moreLikeThis(const SearchResult& result) {
  if (!library_) return;
  if (auto query = MoreLikeThis::frame(*library_, result.file, result.frameID, result.time)) {
    useImageQuery(std::move(*query));
  }
}

void AppModel::moreLikeThis(qint64 frameID) {
  if (const auto row = results_->row(frameID)) {
    moreLikeThis(results_->results()[static_cast<std::size_t>(*row)]);
  }
}

// ---- Folders ----

AppModel::AddResult AppModel::addFolder(const std::filesystem::path& path) {
  if (!library_) return AddResult{FolderRules::Outcome::failed, {}, {}, notReady};
  if (!lock_) return AddResult{FolderRules::Outcome::failed, {}, {}, busyAdding};
  const auto standard = FolderRules::standardised(path);
  auto result = FolderRules::add(*library_, standard, volumes_->table());
  if (result.outcome != FolderRules::Outcome::added) return result;
  for (const auto& replaced : result.replaced) forgetFolder(replaced.id);
  resolveFolders();
  watchFolders();
  if (indexer_) indexer_->run(std::vector<std::int64_t>{result.root->id});
  if (!result.replaced.empty()) scheduleSearch(true, false);
  return result;
}

void AppModel::handleAdd(const QString& path) {
  const auto result = addFolder(path.toStdString());
  if (result.outcome == FolderRules::Outcome::failed) {
    setNotice(QString::fromStdString(result.message));
  }
}

void AppModel::handleAddUrl(const QUrl& url) {
  if (url.isLocalFile()) return handleAdd(url.toLocalFile());
  setNotice(tr("%1 can't be added: Quillmere adds folders on this computer only.")
                .arg(url.toDisplayString(QUrl::PreferLocalFile)));
}

// The model's own traces of a folder the library no longer has.
void AppModel::forgetFolder(std::int64_t rootID) {
  accessing_.erase(rootID);
  if (folderFilter_ == rootID) {
    folderFilter_.reset();
    emit folderFilterChanged();
  }
}

void AppModel::removeFolder(qint64 rootID) {
  if (!library_) return;
  try {
    library_->removeRoot(rootID);
  } catch (const std::exception&) {
    // The folder stays listed; removing it again retries.
  }
  forgetFolder(rootID);
  resolveFolders();
  watchFolders();
  // A run in progress looks again for pending files after the file in work, rather than
  // decoding and embedding the removed folder's files only to throw them away.
  if (indexer_) indexer_->run(std::vector<std::int64_t>{});
  scheduleSearch(true, false);
}

void AppModel::resolveFolders() {
  if (!library_) return;
  const auto boot = volumes_->table().bootVolumeUUID();
  std::vector<Folder> folders;
  for (auto root : library_->roots()) {
    const auto place = volumes_->table().locate(root);
    if (place && isDirectory(*place)) {
      accessing_[root.id] = *place;
      if (*place != root.path) {
        root.path = *place;
        try {
          library_->updateRoot(root);
        } catch (const std::exception&) {
          // Found at its new place this time; the stored path is tried again next time.
        }
      }
    } else {
      accessing_.erase(root.id);
    }
    const bool external =
        root.isRemovable || (root.volumeUUID && (!boot || *boot != *root.volumeUUID));
    folders.push_back(Folder{root, accessing_.contains(root.id), external});
  }
  {
    std::lock_guard guard(accessLock_);
    accessCache_ = accessing_;
  }
  folders_->setFolders(std::move(folders));
  refreshTotals();
}

void AppModel::watchFolders() {
  if (!watcher_) return;
  std::map<std::int64_t, std::string> paths;
  for (const auto& [id, place] : accessing_) paths[id] = place.string();
  watcher_->watch(paths);
}

// The table changes for mounts that are none of ours (a container, a snap, another stick):
// only a folder that went, came or moved searches again, keeping the selection.
void AppModel::volumesChanged() {
  if (!library_) return;
  const auto before = accessing_;
  volumes_->reload();
  resolveFolders();
  if (accessing_ == before) return;
  watchFolders();
  std::vector<std::int64_t> cameBack;
  for (const auto& entry : accessing_) {
    if (!before.contains(entry.first)) cameBack.push_back(entry.first);
  }
  if (!cameBack.empty() && indexer_) indexer_->run(cameBack);
  scheduleSearch(true, true);
}

// Counted by the library in place: a copy of every record here, on the GUI thread and under
// the library's lock, stalled the window at each refresh of a large library's indexing.
void AppModel::refreshTotals() {
  if (!library_) return;
  totals_ = library_->totals();
  const auto counts = library_->rootCounts();
  indexedPhotos_ = 0;
  for (const auto& entry : counts) indexedPhotos_ += entry.second.indexedPhotos;
  auto folders = folders_->folders();
  for (auto& folder : folders) {
    const auto found = counts.find(folder.root.id);
    folder.files = found != counts.end() ? found->second.files : 0;
    folder.indexed = found != counts.end() ? found->second.indexed : 0;
  }
  folders_->setFolders(std::move(folders));
  emit totalsChanged();
}

std::optional<std::filesystem::path> AppModel::url(const MediaFile& file) const {
  const auto found = accessing_.find(file.rootID);
  if (found == accessing_.end()) return std::nullopt;
  return found->second / file.relPath;
}

bool AppModel::isOnline(const MediaFile& file) const {
  return accessing_.contains(file.rootID);
}

std::optional<SearchResult> AppModel::storedFrame(std::int64_t fileID, std::int64_t frameID) const {
  const auto file = library_ ? library_->file(fileID) : std::nullopt;
  if (!file) return std::nullopt;
  for (const VectorIndex::Row& row : library_->vectors().rows(fileID)) {
    if (row.frameID == frameID) return SearchResult{frameID, *file, row.time, 0, 0};
  }
  return std::nullopt;
}

std::optional<Folder> AppModel::folder(const MediaFile& file) const {
  for (const auto& folder : folders_->folders()) {
    if (folder.root.id == file.rootID) return folder;
  }
  return std::nullopt;
}

// ---- Indexed-file refresh: at most one per refreshInterval ----

void AppModel::indexedFileRefresh() {
  if (refreshPending_) return;
  refreshPending_ = true;
  refreshTimer_.start();
}

void AppModel::finishRefresh() {
  refreshPending_ = false;
  refreshTotals();
  emit indexedFilesRefreshed();
  if (!query_.isEmpty() || imageQuery_) scheduleSearch(true, true);
}

// ---- For the main window ----

QString AppModel::offlineNote(qint64 frameID) const {
  const auto row = results_->row(frameID);
  if (!row) return {};
  const auto& file = results_->results()[*row].file;
  if (isOnline(file)) return {};
  const auto found = folder(file);
  const auto volume =
      found && found->root.volumeName ? QString::fromStdString(*found->root.volumeName) : QString();
  return tr("On %1 — not connected").arg(volume.isEmpty() ? tr("a drive") : volume);
}

QUrl AppModel::fileUrl(qint64 frameID) const {
  const auto row = results_->row(frameID);
  if (!row) return {};
  const auto path = url(results_->results()[*row].file);
  return path ? QUrl::fromLocalFile(QString::fromStdString(path->string())) : QUrl();
}

QString AppModel::openTimecode(qint64 frameID, bool full) const {
  const auto row = results_->row(frameID);
  if (!row) return {};
  const auto& result = results_->results()[*row];
  if (result.file.kind != MediaKind::video) return {};
  const double time = openTime(result);
  return QString::fromStdString(full ? timecode(time) : shortTimecode(time));
}

void AppModel::drop(const QList<QUrl>& urls) {
  for (const auto& dropped : urls) {
    if (!dropped.isLocalFile()) continue;
    const std::filesystem::path path = dropped.toLocalFile().toStdString();
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
      handleAdd(dropped.toLocalFile());
    } else if (Scanner::kind(path)) {
      searchByImage(dropped.toLocalFile());
    }
  }
}

void AppModel::openSelectedWhenSearched() {
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
