// SPDX-License-Identifier: GPL-3.0-or-later
// DuplicatesModel: finding the groups, marking copies, and moving them to the Trash.
#include "DuplicatesModel.h"

#include <QFile>
#include <QLocale>
#include <QVariantMap>

#include "FolderModel.h"
#include "GuiQueue.h"
#include "IndexingStatus.h"
#include "SerialQueue.h"
#include "index/Library.h"

namespace quillmere {
DuplicatesModel::DuplicatesModel(QObject* parent)
    : QAbstractListModel(parent),
      gui_(new GuiQueue(this)),
      queue_(std::make_unique<SerialQueue>("quillmere.duplicates")) {}

DuplicatesModel::~DuplicatesModel() {
  queue_.reset();
}

int DuplicatesModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(groups_.size());
}

QVariant DuplicatesModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const auto& group = groups_[static_cast<std::size_t>(index.row())];
  switch (role) {
    case GroupIdRole:
      return QVariant::fromValue<qint64>(group.id());
    case TitleRole:
      return title(group);
    case ExactRole:
      return group.isExact();
    case FilesRole:
      return files(group);
    default:
      return {};
  }
}

QHash<int, QByteArray> DuplicatesModel::roleNames() const {
  return {
      {GroupIdRole, "groupId"}, {TitleRole, "title"}, {ExactRole, "exact"}, {FilesRole, "files"}};
}

QVariantList DuplicatesModel::files(const DuplicateFinder::Group& group) const {
  QVariantList list;
  for (std::size_t i = 0; i < group.files.size(); ++i) {
    const MediaFile& file = group.files[i];
    qint64 frameID = 0;
    if (library()) {
      const auto rows = library()->vectors().rows(file.id);
      if (!rows.empty()) frameID = rows.front().frameID;
    }
    list.append(QVariantMap{{"fileId", QVariant::fromValue<qint64>(file.id)},
                            {"frameId", frameID},
                            {"name", QString::fromStdString(file.name())},
                            {"width", file.width},
                            {"height", file.height},
                            {"size", QVariant::fromValue<qint64>(file.size)},
                            {"isBest", i == 0}});
  }
  return list;
}

QString DuplicatesModel::title(const DuplicateFinder::Group& group) {
  const int count = static_cast<int>(group.files.size());
  return group.isExact() ? tr("Same photo · %n copies", nullptr, count)
                         : tr("Very similar · %n photo(s)", nullptr, count);
}

std::set<std::int64_t> DuplicatesModel::preMarked(
    const std::vector<DuplicateFinder::Group>& groups) {
  std::set<std::int64_t> marked;
  for (const auto& group : groups) {
    for (const auto& copy : group.copies()) marked.insert(copy.id);
  }
  return marked;
}

FolderModel* DuplicatesModel::folders() const {
  return folders_;
}

IndexingStatus* DuplicatesModel::indexing() const {
  return indexing_;
}

void DuplicatesModel::setFolders(FolderModel* folders) {
  if (folders == folders_) return;
  folders_ = folders;
  emit foldersChanged();
}

void DuplicatesModel::setIndexing(IndexingStatus* indexing) {
  if (indexing == indexing_) return;
  if (indexing_) disconnect(indexing_, nullptr, this, nullptr);
  indexing_ = indexing;
  if (indexing_) connect(indexing_, &IndexingStatus::changed, this, &DuplicatesModel::checkRescan);
  emit indexingChanged();
}

Library* DuplicatesModel::library() const {
  return folders_ ? folders_->library() : nullptr;
}

void DuplicatesModel::setIncludeSimilar(bool include) {
  if (include == includeSimilar_) return;
  includeSimilar_ = include;
  emit includeSimilarChanged();
  find();
}

qint64 DuplicatesModel::markedBytes() const {
  qint64 bytes = 0;
  for (const auto& group : groups_) {
    for (const MediaFile& file : group.files) {
      if (marked_.contains(file.id)) bytes += file.size;
    }
  }
  return bytes;
}

QString DuplicatesModel::summary() const {
  if (groups_.empty()) return {};
  const int count = static_cast<int>(groups_.size());
  const QString bytes = QLocale().formattedDataSize(markedBytes(), 1, QLocale::DataSizeSIFormat);
  //: %1 is the number of photos marked for the Trash, %2 their size
  return tr("%n group(s) · %1 to remove · %2 to free", nullptr, count)
      .arg(markedCount())
      .arg(bytes);
}

bool DuplicatesModel::canTrash() const {
  return !marked_.empty() && !working_ && !trashing_;
}

// ---- Searching ----

void DuplicatesModel::findIfNeeded() {
  if (!searched_ && !working_) find();
}

void DuplicatesModel::find() {
  if (!library()) return;
  const auto generation = ++generation_;
  awaitingRescan_ = false;
  progress_ = 0;
  emit progressChanged();
  setWorking(true);
  const float threshold = includeSimilar_ ? DuplicateFinder::near : DuplicateFinder::exact;
  queue_->post([this, generation, threshold, searched = library()] {
    if (generation != generation_) return;  // superseded while it waited
    auto groups = DuplicateFinder::find(*searched, threshold, {}, [this, generation](double done) {
      gui_->post([this, generation, done] {
        if (generation != generation_) return;
        progress_ = done;
        emit progressChanged();
      });
    });
    gui_->post([this, generation, groups = std::move(groups)]() mutable {
      apply(generation, std::move(groups));
    });
  });
}

void DuplicatesModel::apply(std::uint64_t generation, std::vector<DuplicateFinder::Group> groups) {
  if (generation != generation_) return;  // a newer search is running
  const int before = rowCount();
  beginResetModel();
  groups_ = std::move(groups);
  endResetModel();
  if (rowCount() != before) emit countChanged();
  setMarks(preMarked(groups_));
  searched_ = true;
  setWorking(false);
  emit groupsApplied();
}

void DuplicatesModel::toggle(qint64 fileID) {
  auto marked = marked_;
  if (!marked.erase(fileID)) marked.insert(fileID);
  setMarks(std::move(marked));
}

// ---- The Trash ----

void DuplicatesModel::trash() {
  if (!canTrash() || !folders_) return;
  std::vector<Request> requests;
  int leftOut = 0;
  for (const auto& group : groups_) {
    for (const MediaFile& file : group.files) {
      if (!marked_.contains(file.id)) continue;
      const auto location = folders_->filePath(file);
      if (!location) {
        ++leftOut;  // its drive is not connected
        continue;
      }
      requests.push_back({file.id, file.rootID, QString::fromStdString(location->string())});
    }
  }
  setTrashing(true);
  queue_->post([this, requests, leftOut] {
    const Moved moved = moveToTrash(requests);
    gui_->post([this, moved, leftOut] { finishTrash(moved, leftOut); });
  });
}

// On the queue's thread.
DuplicatesModel::Moved DuplicatesModel::moveToTrash(const std::vector<Request>& requests) {
  Moved moved;
  for (const Request& request : requests) {
    QFile file(request.path);
    if (file.moveToTrash()) {
      moved.movedIDs.push_back(request.fileID);
      moved.roots.insert(request.rootID);
    } else {
      if (moved.failed++ == 0) moved.failure = file.errorString();
    }
  }
  return moved;
}

QString DuplicatesModel::notice(const Moved& moved, int leftOut) {
  const int count = static_cast<int>(moved.movedIDs.size());
  QStringList parts;
  if (count > 0 || (moved.failed == 0 && leftOut == 0)) {
    parts << tr("Moved %n photo(s) to the Trash.", nullptr, count);
  }
  if (moved.failed > 0) {
    parts << tr("Some files couldn't be moved to the Trash: %1").arg(moved.failure);
  }
  if (leftOut > 0) {
    parts << tr("%n photo(s) left where they are: their drive is not connected.", nullptr, leftOut);
  }
  return parts.join(' ');
}

void DuplicatesModel::finishTrash(const Moved& moved, int leftOut) {
  emit noticed(notice(moved, leftOut));
  setTrashing(false);
  emit trashAnswered();
  Indexer* indexer = folders_ ? folders_->indexer() : nullptr;
  if (!indexer || moved.roots.empty()) {
    find();
    return;
  }
  // The next search waits for the scan that makes the library forget the moved files, so
  // that they never come back in it.
  awaitingRemoval_ = std::set<std::int64_t>(moved.movedIDs.begin(), moved.movedIDs.end());
  awaitingRescan_ = true;
  indexerBusySince_ = false;
  setWorking(true);
  indexer->run(std::vector<std::int64_t>(moved.roots.begin(), moved.roots.end()));
  checkRescan();
}

// After a move: searches again once the library has forgotten every moved file, or once
// the indexer, having worked since, is idle (a scan that could not remove them is over).
void DuplicatesModel::checkRescan() {
  if (!awaitingRescan_ || !indexing_ || !library()) return;
  const bool idle = indexing_->progress().phase.kind == Indexer::Phase::Kind::idle;
  if (!idle) indexerBusySince_ = true;
  bool forgotten = true;
  for (std::int64_t id : awaitingRemoval_) forgotten = forgotten && !library()->file(id);
  if (forgotten || (idle && indexerBusySince_)) find();
}

// ---- State ----

void DuplicatesModel::setWorking(bool working) {
  if (working == working_) return;
  working_ = working;
  emit workingChanged();
  updateCanTrash();
}

void DuplicatesModel::setTrashing(bool trashing) {
  if (trashing == trashing_) return;
  trashing_ = trashing;
  emit trashingChanged();
  updateCanTrash();
}

void DuplicatesModel::setMarks(std::set<std::int64_t> marked) {
  marked_ = std::move(marked);
  ++marksRevision_;
  emit marksChanged();
  updateCanTrash();
}

void DuplicatesModel::updateCanTrash() {
  if (canTrash() == canTrash_) return;
  canTrash_ = canTrash();
  emit canTrashChanged();
}

}  // namespace quillmere
