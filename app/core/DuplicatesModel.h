// SPDX-License-Identifier: GPL-3.0-or-later
// The duplicates window's state: the groups of duplicate photos the finder found, one row per
// group with the copy to keep first, the photos marked for the Trash, and moving them there.
// The copies of a group of the same picture are pre-marked, those of a group only alike are
// not (DuplicateFinder::Group decides which is which). Lives on the GUI thread; the search and the
// moves run on a queue of their own and come back as queued calls. The folders (the library,
// its indexer and where files are) and the indexing status it is given must outlive it; what
// it has to say goes out as `noticed`.
#pragma once

#include <QAbstractListModel>
#include <QPointer>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "duplicates/DuplicateFinder.h"

namespace quillmere {

class FolderModel;
class IndexingStatus;
class Library;
class GuiQueue;
class SerialQueue;

class DuplicatesModel : public QAbstractListModel {
  Q_OBJECT
  Q_PROPERTY(FolderModel* folders READ folders WRITE setFolders NOTIFY foldersChanged)
  Q_PROPERTY(IndexingStatus* indexing READ indexing WRITE setIndexing NOTIFY indexingChanged)
  Q_MOC_INCLUDE("FolderModel.h")
  Q_MOC_INCLUDE("IndexingStatus.h")
  Q_PROPERTY(
      bool includeSimilar READ includeSimilar WRITE setIncludeSimilar NOTIFY includeSimilarChanged)
  Q_PROPERTY(bool working READ working NOTIFY workingChanged)
  Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
  Q_PROPERTY(bool searched READ searched NOTIFY workingChanged)
  Q_PROPERTY(bool trashing READ trashing NOTIFY trashingChanged)
  Q_PROPERTY(int count READ rowCount NOTIFY countChanged)
  Q_PROPERTY(int markedCount READ markedCount NOTIFY marksChanged)
  Q_PROPERTY(qint64 markedBytes READ markedBytes NOTIFY marksChanged)
  Q_PROPERTY(QString summary READ summary NOTIFY marksChanged)
  // Marks can be moved: some are marked, and neither a search nor a move is under way.
  Q_PROPERTY(bool canTrash READ canTrash NOTIFY canTrashChanged)
  // Grows with every change of the marks, for bindings that call isMarked.
  Q_PROPERTY(int marksRevision READ marksRevision NOTIFY marksChanged)

 public:
  enum Role {
    GroupIdRole = Qt::UserRole + 1,
    TitleRole,
    ExactRole,  // every photo is the same picture as the copy to keep
    FilesRole,  // list of {fileId, frameId, name, width, height, size, isBest}
  };
  Q_ENUM(Role)

  explicit DuplicatesModel(QObject* parent = nullptr);
  // Lets a running search or move finish before the queues go.
  ~DuplicatesModel() override;

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QHash<int, QByteArray> roleNames() const override;

  FolderModel* folders() const;
  void setFolders(FolderModel* folders);
  IndexingStatus* indexing() const;
  void setIndexing(IndexingStatus* indexing);
  bool includeSimilar() const { return includeSimilar_; }
  void setIncludeSimilar(bool include);
  bool working() const { return working_; }
  double progress() const { return progress_; }
  bool searched() const { return searched_; }
  bool trashing() const { return trashing_; }
  int markedCount() const { return static_cast<int>(marked_.size()); }
  qint64 markedBytes() const;
  QString summary() const;
  bool canTrash() const;
  int marksRevision() const { return marksRevision_; }
  const std::vector<DuplicateFinder::Group>& groups() const { return groups_; }
  const std::set<std::int64_t>& marked() const { return marked_; }

  // The group's title: "Same photo · N copies" or "Very similar · N photos".
  static QString title(const DuplicateFinder::Group& group);
  // The files pre-marked for the Trash: the copies of every group of the same picture.
  static std::set<std::int64_t> preMarked(const std::vector<DuplicateFinder::Group>& groups);

  // Starts a search; a search still running is superseded and its answer dropped.
  Q_INVOKABLE void find();
  // Finds once, when no search has finished yet (the window appearing).
  Q_INVOKABLE void findIfNeeded();
  Q_INVOKABLE bool isMarked(qint64 fileID) const { return marked_.contains(fileID); }
  Q_INVOKABLE void toggle(qint64 fileID);
  // Moves the marked photos to the Trash; the notice says how many moved, how many failed
  // and how many were left as their drive is not connected. Searches again once the
  // folders of the moved photos were scanned.
  Q_INVOKABLE void trash();

 signals:
  void foldersChanged();
  void indexingChanged();
  // What the window has to tell (the Trash's answer), for the notice bar.
  void noticed(const QString& text);
  void includeSimilarChanged();
  void workingChanged();
  void progressChanged();
  void trashingChanged();
  void countChanged();
  void marksChanged();
  void canTrashChanged();
  // A search's answer was applied.
  void groupsApplied();
  // The Trash answered and its notice went out.
  void trashAnswered();

 private:
  // What one move to the Trash did.
  struct Moved {
    std::vector<std::int64_t> movedIDs;
    std::set<std::int64_t> roots;  // of the moved files
    int failed = 0;
    QString failure;  // the first failure's reason
  };
  struct Request {
    std::int64_t fileID = 0;
    std::int64_t rootID = 0;
    QString path;
  };

  static Moved moveToTrash(const std::vector<Request>& requests);
  static QString notice(const Moved& moved, int leftOut);
  QVariantList files(const DuplicateFinder::Group& group) const;
  void apply(std::uint64_t generation, std::vector<DuplicateFinder::Group> groups);
  void finishTrash(const Moved& moved, int leftOut);
  void checkRescan();
  void setWorking(bool working);
  void setTrashing(bool trashing);
  void setMarks(std::set<std::int64_t> marked);
  void updateCanTrash();

  Library* library() const;

  QPointer<FolderModel> folders_;
  QPointer<IndexingStatus> indexing_;
  bool includeSimilar_ = true;
  bool working_ = false;
  double progress_ = 0;
  bool searched_ = false;
  bool trashing_ = false;
  bool canTrash_ = false;
  int marksRevision_ = 0;
  std::vector<DuplicateFinder::Group> groups_;
  std::set<std::int64_t> marked_;
  // The newest search; older ones are skipped on the queue and their answers dropped.
  std::atomic<std::uint64_t> generation_{0};
  // After a move: the moved files the library must forget before the next search, and
  // whether the indexer has reported work since (its next idle report ends the wait).
  std::set<std::int64_t> awaitingRemoval_;
  bool awaitingRescan_ = false;
  bool indexerBusySince_ = false;
  GuiQueue* gui_;
  std::unique_ptr<SerialQueue> queue_;
};

}  // namespace quillmere
