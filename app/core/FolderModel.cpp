// SPDX-License-Identifier: GPL-3.0-or-later
// FolderModel: adding and removing folders, finding them on the drives, the folder watcher
// and the totals.
#include "FolderModel.h"

#include <set>
#include <system_error>
#include <utility>

#include "GuiQueue.h"
#include "OfflineNotes.h"
#include "VolumeWatcher.h"
#include "core/StandardPath.h"
#include "indexer/Indexer.h"
#include "scan/FolderWatcher.h"

namespace quillmere {
namespace {

constexpr const char* notReady =
    QT_TRANSLATE_NOOP("quillmere::FolderModel", "Quillmere isn't ready.");
constexpr const char* busyAdding = QT_TRANSLATE_NOOP(
    "quillmere::FolderModel",
    "Another Quillmere process is indexing this library. Add the folder when it is done.");

}  // namespace

FolderModel::FolderModel(Notify notify, QObject* parent)
    : QObject(parent),
      notify_(std::move(notify)),
      gui_(new GuiQueue(this)),
      list_(new FolderListModel(this)),
      picker_(new FolderPicker(this)) {
  connect(picker_, &FolderPicker::chosen, this, [this](const QList<QUrl>& folders) {
    for (const QUrl& folder : folders) handleAddUrl(folder);
  });
}

FolderModel::~FolderModel() = default;

void FolderModel::start(Library& library, Indexer* indexer,
                        const std::filesystem::path& systemRoot) {
  library_ = &library;
  indexer_ = indexer;
  volumes_ = new VolumeWatcher(systemRoot, this);
  resolveFolders();
  watcher_ = std::make_unique<FolderWatcher>([this](const std::set<std::int64_t>& roots) {
    gui_->post([this, roots] {
      if (indexer_) indexer_->run(std::vector<std::int64_t>(roots.begin(), roots.end()));
    });
  });
  watchFolders();
  connect(volumes_, &VolumeWatcher::changed, this, &FolderModel::volumesChanged);
}

void FolderModel::stopWatching() {
  watcher_.reset();
}

std::vector<std::int64_t> FolderModel::reachable() const {
  std::vector<std::int64_t> ids;
  for (const auto& entry : accessing_) ids.push_back(entry.first);
  return ids;
}

std::optional<std::filesystem::path> FolderModel::reachablePath(const Root& root) const {
  MutexLock guard(accessCacheLock_);
  const auto found = accessCache_.find(root.id);
  if (found == accessCache_.end()) return std::nullopt;
  return found->second;
}

FolderModel::AddResult FolderModel::addFolder(const std::filesystem::path& path) {
  if (!library_) return {{}, tr(notReady).toStdString()};
  if (!indexer_) return {{}, tr(busyAdding).toStdString()};
  const auto standard = standardPath(path);
  AddResult result{FolderRules::add(*library_, standard, volumes_->table()), {}};
  result.message = problemText(result).toStdString();
  if (result.outcome != FolderRules::Outcome::added) return result;
  for (const auto& replaced : result.replaced) forgetFolder(replaced.id);
  resolveFolders();
  watchFolders();
  indexer_->run(std::vector<std::int64_t>{result.root->id});
  if (!result.replaced.empty()) emit searchNeeded(false);
  return result;
}

QString FolderModel::problemText(const FolderRules::AddResult& result) {
  const auto path = QString::fromStdString(result.path);
  switch (result.problem) {
    case FolderRules::Problem::notFound:
      return tr("Folder not found: %1").arg(path);
    case FolderRules::Problem::notAFolder:
      return tr("Not a folder: %1").arg(path);
    case FolderRules::Problem::notWritten:
      return QString::fromStdString(result.detail);  // the library's own error
    case FolderRules::Problem::none:
      break;
  }
  return {};
}

void FolderModel::handleAdd(const QString& path) {
  const auto result = addFolder(path.toStdString());
  if (result.outcome == FolderRules::Outcome::failed) {
    notify_(QString::fromStdString(result.message));
  }
}

void FolderModel::handleAddUrl(const QUrl& url) {
  if (url.isLocalFile()) return handleAdd(url.toLocalFile());
  notify_(tr("%1 can't be added: Quillmere adds folders on this computer only.")
              .arg(url.toDisplayString(QUrl::PreferLocalFile)));
}

// The model's own traces of a folder the library no longer has.
void FolderModel::forgetFolder(std::int64_t rootID) {
  accessing_.erase(rootID);
  emit folderForgotten(rootID);
}

void FolderModel::removeFolder(qint64 rootID) {
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
  emit searchNeeded(false);
}

// Where each folder can be read now: the rule the indexer's reachablePath answers with.
void FolderModel::resolveFolders() {
  if (!library_) return;
  const auto boot = volumes_->table().bootVolumeUUID();
  std::vector<Folder> folders;
  for (auto root : library_->roots()) {
    root = FolderRules::rememberDrive(*library_, root, volumes_->table());
    const auto place = FolderRules::reachablePath(root, volumes_->table());
    if (place) {
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
    MutexLock guard(accessCacheLock_);
    accessCache_ = accessing_;
  }
  list_->setFolders(std::move(folders));
  refreshTotals();
  emit accessChanged();
}

void FolderModel::watchFolders() {
  if (!watcher_) return;
  std::map<std::int64_t, std::string> paths;
  for (const auto& [id, place] : accessing_) paths[id] = place.string();
  watcher_->watch(paths);
}

// The table changes for mounts that are none of ours (a container, a snap, another stick):
// only a folder that went, came or moved searches again, keeping the selection.
void FolderModel::volumesChanged() {
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
  emit searchNeeded(true);
}

// Counted by the library in place: a copy of every record on the GUI thread, under the
// library's lock, would stall the window at each refresh of a large library's indexing.
void FolderModel::refreshTotals() {
  if (!library_) return;
  totals_ = library_->totals();
  const auto counts = library_->rootCounts();
  indexedPhotos_ = 0;
  for (const auto& entry : counts) indexedPhotos_ += entry.second.indexedPhotos;
  auto folders = list_->folders();
  for (auto& folder : folders) {
    const auto found = counts.find(folder.root.id);
    folder.files = found != counts.end() ? found->second.files : 0;
    folder.indexed = found != counts.end() ? found->second.indexed : 0;
  }
  list_->setFolders(std::move(folders));
  emit totalsChanged();
}

std::optional<std::filesystem::path> FolderModel::filePath(const MediaFile& file) const {
  const auto found = accessing_.find(file.rootID);
  if (found == accessing_.end()) return std::nullopt;
  return found->second / file.relPath;
}

bool FolderModel::isOnline(const MediaFile& file) const {
  return accessing_.contains(file.rootID);
}

QString FolderModel::offlineNote(bool online, const QString& volumeName) const {
  return OfflineNotes::folderRow(online, volumeName);
}

std::optional<Folder> FolderModel::folder(const MediaFile& file) const {
  for (const auto& folder : list_->folders()) {
    if (folder.root.id == file.rootID) return folder;
  }
  return std::nullopt;
}

}  // namespace quillmere
