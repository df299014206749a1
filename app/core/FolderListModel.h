// SPDX-License-Identifier: GPL-3.0-or-later
// The folder list the sidebar and settings draw: one row per library root, in the library's
// order. Rows whose folder stays the same root are updated in place.
#pragma once

#include <QAbstractListModel>
#include <vector>

#include "Folder.h"

namespace quillmere {

class FolderListModel : public QAbstractListModel {
  Q_OBJECT
  Q_PROPERTY(int count READ rowCount NOTIFY countChanged)

 public:
  enum Role {
    RootIdRole = Qt::UserRole + 1,
    PathRole,
    NameRole,
    OnlineRole,
    ExternalRole,
    FilesRole,
    IndexedRole,
    VolumeNameRole,  // the drive's name; empty when none is stored
  };
  Q_ENUM(Role)

  explicit FolderListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QHash<int, QByteArray> roleNames() const override;

  // The row of the folder with this root id, or -1: views hold a folder, not a row.
  Q_INVOKABLE int rowOf(qint64 rootId) const;

  const std::vector<Folder>& folders() const { return folders_; }
  // Replaces the list; the same roots in the same order change only the rows that differ.
  void setFolders(std::vector<Folder> folders);

 signals:
  void countChanged();

 private:
  std::vector<Folder> folders_;
};

}  // namespace quillmere
