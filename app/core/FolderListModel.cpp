// SPDX-License-Identifier: GPL-3.0-or-later
// FolderListModel: the folder rows and their roles, updated in place.
#include "FolderListModel.h"

namespace quillmere {
namespace {

bool sameRoots(const std::vector<Folder>& a, const std::vector<Folder>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].root.id != b[i].root.id) return false;
  }
  return true;
}

}  // namespace

FolderListModel::FolderListModel(QObject* parent) : QAbstractListModel(parent) {}

int FolderListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(folders_.size());
}

QVariant FolderListModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
    return {};
  }
  const auto& folder = folders_[static_cast<std::size_t>(index.row())];
  switch (role) {
    case RootIdRole:
      return QVariant::fromValue<qint64>(folder.root.id);
    case PathRole:
      return QString::fromStdString(folder.root.path);
    case Qt::DisplayRole:
    case NameRole:
      return QString::fromStdString(folder.root.name());
    case OnlineRole:
      return folder.online;
    case ExternalRole:
      return folder.isExternal;
    case FilesRole:
      return QVariant::fromValue<qint64>(folder.files);
    case IndexedRole:
      return QVariant::fromValue<qint64>(folder.indexed);
    case VolumeNameRole:
      return QString::fromStdString(folder.root.volumeName.value_or(""));
    default:
      return {};
  }
}

QHash<int, QByteArray> FolderListModel::roleNames() const {
  return {{RootIdRole, "rootId"},     {PathRole, "path"},
          {NameRole, "name"},         {OnlineRole, "online"},
          {ExternalRole, "external"}, {FilesRole, "files"},
          {IndexedRole, "indexed"},   {VolumeNameRole, "volumeName"}};
}

int FolderListModel::rowOf(qint64 rootId) const {
  for (std::size_t i = 0; i < folders_.size(); ++i) {
    if (folders_[i].root.id == rootId) return static_cast<int>(i);
  }
  return -1;
}

void FolderListModel::setFolders(std::vector<Folder> folders) {
  if (!sameRoots(folders_, folders)) {
    const bool countMoved = folders_.size() != folders.size();
    beginResetModel();
    folders_ = std::move(folders);
    endResetModel();
    if (countMoved) emit countChanged();
    return;
  }
  for (std::size_t i = 0; i < folders.size(); ++i) {
    if (folders_[i] == folders[i]) continue;
    folders_[i] = std::move(folders[i]);
    const auto at = index(static_cast<int>(i));
    emit dataChanged(at, at);
  }
}

}  // namespace quillmere
