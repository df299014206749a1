// SPDX-License-Identifier: GPL-3.0-or-later
// AppModel: the start-up sequence, the engine's wiring to the models, and the indexed-file
// refresh.
#include "AppModel.h"

#include <system_error>
#include <utility>
#include <vector>

#include "Actions.h"
#include "FolderListModel.h"
#include "GuiQueue.h"
#include "IndexingStatus.h"
#include "ModelDownloads.h"
#include "SerialQueue.h"
#include "Thumbnails.h"
#include "engine/TextReading.h"
#include "model/Embedder.h"
#include "platform/PowerMonitor.h"
#include "scan/FrameSampler.h"
#include "scan/Scanner.h"
#include "search/SearchEngine.h"

namespace quillmere {
namespace {

constexpr const char* missingModel =
    QT_TRANSLATE_NOOP("quillmere::AppModel", "The search model is missing. Reinstall Quillmere.");

}  // namespace

AppModel::AppModel(Setup setup, QObject* parent)
    : QObject(parent),
      setup_(std::move(setup)),
      searchQueue_(std::make_unique<SerialQueue>("quillmere.search")),
      refineQueue_(std::make_unique<SerialQueue>("quillmere.refine")),
      thumbnails_(std::make_unique<Thumbnails>()),
      gui_(new GuiQueue(this)) {
  const auto notify = [this](const QString& text) { setNotice(text); };
  folders_ = new FolderModel(notify, this);
  search_ = new SearchModel(*searchQueue_, *refineQueue_, *folders_, notify, this);
  actions_ = new Actions(*search_, *folders_, notify, this);
  indexing_ = new IndexingStatus(*folders_, this);
  downloads_ = new ModelDownloads(this);
  connect(folders_, &FolderModel::folderForgotten, search_, &SearchModel::forgetFolder);
  connect(folders_, &FolderModel::searchNeeded, search_,
          [this](bool keepSelection) { search_->scheduleSearch(true, keepSelection); });
  refreshTimer_.setSingleShot(true);
  refreshTimer_.setInterval(refreshInterval);
  connect(&refreshTimer_, &QTimer::timeout, this, &AppModel::finishRefresh);
  idleTimer_.setInterval(encoderIdle / 5);
  connect(&idleTimer_, &QTimer::timeout, this, [this] {
    if (!embedder_) return;
    // Off the GUI thread: a session's teardown can take a while.
    searchQueue_->post([embedder = embedder_.get()] { embedder->releaseIdle(encoderIdle); });
  });
  idleTimer_.start();
  start();
  attachEngine();
}

AppModel::AppModel(QObject* parent) : AppModel(Setup{}, parent) {}

AppModel::~AppModel() {
  // An upgrade under way cannot be cut short: it ends, and its answer is dropped.
  if (setup_.upgradeQueue) setup_.upgradeQueue->sync();
  // Every thread that may post back to the models, or read the library, ends before the
  // engine does.
  thumbnails_.reset();
  folders_->stopWatching();
  indexer_.reset();
  refineQueue_.reset();
  searchQueue_.reset();
}

// Start-up: the embedder and the library; when the library holds another model's frames,
// nothing goes further (and nothing is dropped) until the user chooses to index again.
void AppModel::start() {
  const auto result = openEngine(EngineOpening::Access::writes);
  if (result.outcome == EngineOpening::Outcome::olderSchema) {
    upgradeLibrary();
    return;
  }
  if (result.outcome != EngineOpening::Outcome::failed) startOpened(result);
}

void AppModel::startOpened(const EngineOpening::Result& opened) {
  const bool otherModel = opened.outcome == EngineOpening::Outcome::otherModel;
  if (!lock_ && otherModel) {
    // Nothing can be indexed again while another process writes: say so and stop here.
    startupError_ = tr("The library %1 is in use by another Quillmere process (the app or an "
                       "indexing quillmere-cli). Quit it, or wait until it is done, and try "
                       "again.")
                        .arg(QString::fromStdString(libraryFile().string()));
    library_.reset();
    embedder_.reset();
    return;
  }
  if (!lock_) setNotice(IndexingStatus::tr(IndexingStatus::busyNotice));
  if (otherModel) {
    const QString stored = QString::fromStdString(opened.libraryModel.value_or(""));
    const QString current = QString::fromStdString(opened.model);
    // One name over vectors of another width: a different model that took the same name.
    modelChange_ =
        stored == current
            ? tr("The library was indexed with another model named %1, whose vectors have "
                 "another width; using this one means indexing every file again.")
                  .arg(current)
            : tr("The library was indexed with %1; using %2 means indexing every file again.")
                  .arg(stored, current);
    library_.reset();
    return;
  }
  startEngine();
}

void AppModel::indexAgain() {
  if (modelChange_.isEmpty()) return;
  modelChange_.clear();
  emit modelChangeChanged();
  const auto result = openEngine(EngineOpening::Access::indexes);
  if (result.outcome != EngineOpening::Outcome::failed) startEngine();
  attachEngine();
  emit readyChanged();
}

void AppModel::attachEngine() {
  search_->attach(embedder_.get(), library_.get(), engine_.get());
  search_->setStartupFailed(!startupError_.isEmpty());
  indexing_->attach(library_.get(), indexer_.get());
}

// Then the search engine and the indexer with its wiring, the warm-up, folders, the
// watchers, a run over every folder that can be read, and the totals.
void AppModel::startEngine() {
  engine_ = std::make_unique<SearchEngine>(*library_, *embedder_);
  auto conditions = setup_.conditions ? setup_.conditions : std::make_shared<const PowerMonitor>();
  // Reading only, while another process writes the library: search, but index nothing.
  if (lock_) {
    indexer_ = std::make_unique<Indexer>(*library_, *embedder_,
                                         Indexer::Policy{FrameSampler::VideoPlan{}}, conditions);
    wireIndexer();
    // Opened whatever the setting, so that switching it on later reads at once.
    const auto reading = TextReading::open(true, setup_.textModelDirectory);
    reading.addTo(*indexer_);
    indexer_->switchStage(Library::textStage, indexing_->readsText());
    indexing_->setTextReading(reading.state());
  }
  searchQueue_->post([embedder = embedder_.get()] {
    try {
      embedder->prepareText();
    } catch (const std::exception&) {
      // A failed warm-up is tried again by the first search.
    }
  });
  folders_->start(*library_, indexer_.get(), setup_.systemRoot);
  // Every folder that can be read; one that cannot is not even listed to the indexer, which
  // would otherwise read whatever directory stands at its path.
  if (indexer_) indexer_->run(folders_->reachable());
  folders_->refreshTotals();
}

EngineOpening::Request AppModel::openingRequest(EngineOpening::Access access) const {
  return {.library = libraryFile(),
          .modelDirectory = setup_.modelDirectory,
          .access = access,
          .readOnlyWhenBusy = true,
          .deferUpgrade = true};
}

EngineOpening::Result AppModel::openEngine(EngineOpening::Access access) {
  const bool hadEmbedder = embedder_ != nullptr;
  OpenedEngine engine{.embedder = std::move(embedder_), .lock = std::move(lock_)};
  const auto result = EngineOpening::open(openingRequest(access), engine);
  embedder_ = std::move(engine.embedder);
  lock_ = std::move(engine.lock);
  library_ = std::move(engine.library);
  if (result.outcome == EngineOpening::Outcome::failed) {
    // Not ready: none of the engine stays.
    embedder_.reset();
    startupError_ = startupFailure(result);
  } else if (!hadEmbedder) {
    downloads_->setUsingDemo(embedder_->info().isDemo());
  }
  return result;
}

QString AppModel::startupFailure(const EngineOpening::Result& result) {
  // The model's, the library's and the file system's own errors are shown as they are.
  if (result.failure == EngineOpening::Failure::noModel) return tr(missingModel);
  if (result.failure == EngineOpening::Failure::newerLibrary)
    return tr("This library was made by a newer version of Quillmere.");
  return QString::fromStdString(result.detail);
}

void AppModel::upgradeLibrary() {
  upgrading_ = true;
  upgradeProgress_ = -1;
  SerialQueue& queue = setup_.upgradeQueue ? *setup_.upgradeQueue : *searchQueue_;
  // What the queue hands back; shared, as the queued calls are copied.
  struct Opened {
    std::unique_ptr<Library> library;
    EngineOpening::Result result;
  };
  auto request = openingRequest(EngineOpening::Access::writes);
  request.onUpgrade = [this, gui = gui_](double done) {
    gui->post([this, done] {
      upgradeProgress_ = done;
      emit upgradingChanged();
    });
  };
  // The answers hop to the GUI thread through gui_, a child of the model: one that comes
  // after the model went is dropped with it.
  queue.post([this, gui = gui_, request, model = embedder_->info(), locked = lock_ != nullptr] {
    auto opened = std::make_shared<Opened>();
    opened->result = EngineOpening::openLibrary(request, model, locked, opened->library);
    gui->post([this, opened] { finishUpgrade(std::move(opened->library), opened->result); });
  });
}

void AppModel::finishUpgrade(std::unique_ptr<Library> library,
                             const EngineOpening::Result& opened) {
  library_ = std::move(library);
  if (library_) {
    startOpened(opened);
  } else {
    embedder_.reset();
    startupError_ = startupFailure(opened);
  }
  upgrading_ = false;
  attachEngine();
  emit upgradingChanged();
  emit modelChangeChanged();
  emit readyChanged();
  drop(std::exchange(heldDrops_, {}));
  // A text given while the library was upgraded waited for the engine.
  if (!search_->query().isEmpty()) search_->scheduleSearch(true, false);
}

// The indexer's callbacks run on its threads: they read the folders' access copy under its
// lock, or hop to the GUI thread.
void AppModel::wireIndexer() {
  indexer_->reachablePath = [folders = folders_](const Root& root) {
    return folders->reachablePath(root);
  };
  indexer_->onProgress = [this](const Indexer::Progress& progress) {
    gui_->post([this, progress] {
      // Rows added to files indexed before (text read since) show as the backfill goes.
      if (progress.filling || indexing_->progress().filling) indexedFileRefresh();
      indexing_->setProgress(progress);
      emit progressChanged();
      if (progress.phase.kind == Indexer::Phase::Kind::idle) folders_->refreshTotals();
    });
  };
  indexer_->onFileIndexed = [this](const MediaFile&) {
    gui_->post([this] { indexedFileRefresh(); });
  };
}

Indexer::Progress AppModel::progress() const {
  return indexing_->progress();
}

std::filesystem::path AppModel::libraryFile() const {
  return setup_.libraryPath.value_or(Library::defaultPath());
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

void AppModel::setNotice(const QString& notice) {
  if (notice.isEmpty() && notice_.isEmpty()) return;
  notice_ = notice;
  emit noticeChanged();
}

void AppModel::indexedFileRefresh() {
  if (refreshPending_) return;
  refreshPending_ = true;
  refreshTimer_.start();
}

void AppModel::finishRefresh() {
  refreshPending_ = false;
  folders_->refreshTotals();
  emit indexedFilesRefreshed();
  if (!search_->query().isEmpty() || search_->imageQuery()) search_->scheduleSearch(true, true);
}

void AppModel::drop(const QList<QUrl>& urls) {
  if (upgrading_) {
    heldDrops_ += urls;
    return;
  }
  for (const auto& dropped : urls) {
    if (!dropped.isLocalFile()) {
      folders_->handleAddUrl(dropped);  // says it can't be added
      continue;
    }
    const std::filesystem::path path = dropped.toLocalFile().toStdString();
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
      folders_->handleAdd(dropped.toLocalFile());
    } else if (folders_->list()->rowCount() == 0) {
      setNotice(tr("Not a folder: %1").arg(QString::fromStdString(path.filename().string())));
    } else if (Scanner::kind(path)) {
      search_->searchByImage(dropped.toLocalFile());
    }
  }
}

void AppModel::open(const QList<QUrl>& files, const QString& query) {
  drop(files);
  if (!query.isEmpty()) search_->setQuery(query);
}

}  // namespace quillmere
