// SPDX-License-Identifier: GPL-3.0-or-later
// What the preview pane and the peek show of one result, as plain properties for the views:
// follows the model's results, exact times and folder reachability, and reads nothing from
// disk. Set `search` and `folders`, then `frameId` (null shows nothing).
#pragma once

#include <QAbstractItemModel>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QVariantList>
#include <optional>

#include "search/SearchResult.h"

namespace quillmere {

class FolderModel;
class SearchModel;

class PreviewFacts : public QObject {
  Q_OBJECT

  // The results the frame is among, and the folders that say where its file is.
  Q_PROPERTY(SearchModel* search READ search WRITE setSearch NOTIFY searchChanged)
  Q_PROPERTY(FolderModel* folders READ folders WRITE setFolders NOTIFY foldersChanged)
  Q_MOC_INCLUDE("SearchModel.h")
  Q_MOC_INCLUDE("FolderModel.h")
  // A frame id, or null.
  Q_PROPERTY(QVariant frameId READ frameId WRITE setFrameId NOTIFY frameIdChanged)
  // The frame is among the model's results.
  Q_PROPERTY(bool valid READ valid NOTIFY validChanged)
  Q_PROPERTY(qint64 shownFrameId READ shownFrameId NOTIFY shownFrameIdChanged)
  Q_PROPERTY(QString name READ name NOTIFY nameChanged)
  Q_PROPERTY(bool isVideo READ isVideo NOTIFY isVideoChanged)
  Q_PROPERTY(bool online READ online NOTIFY onlineChanged)
  // The file's location; empty while its folder is not reachable.
  Q_PROPERTY(QUrl fileUrl READ fileUrl NOTIFY fileUrlChanged)
  Q_PROPERTY(QString filePath READ filePath NOTIFY filePathChanged)
  Q_PROPERTY(double openTime READ openTime NOTIFY openTimeChanged)
  Q_PROPERTY(QString openTimecode READ openTimecode NOTIFY openTimecodeChanged)
  Q_PROPERTY(bool exact READ exact NOTIFY exactChanged)
  Q_PROPERTY(QString durationTimecode READ durationTimecode NOTIFY durationTimecodeChanged)
  // Width over height, clamped to 0.5 ... 2.4; 1.6 when unknown.
  Q_PROPERTY(double aspect READ aspect NOTIFY aspectChanged)
  // The directory holding the file, home as "~"; empty when its folder is unknown.
  Q_PROPERTY(QString folderPath READ folderPath NOTIFY folderPathChanged)
  // "1920 × 1080 · 2.1 MB"; empty when the width is unknown.
  Q_PROPERTY(QString sizeText READ sizeText NOTIFY sizeTextChanged)
  Q_PROPERTY(QString modifiedText READ modifiedText NOTIFY modifiedTextChanged)
  // When the photo or video was taken, as the file recorded it; empty when it did not.
  Q_PROPERTY(QString takenText READ takenText NOTIFY takenTextChanged)
  Q_PROPERTY(QString matchWords READ matchWords NOTIFY matchWordsChanged)
  // The note under the buttons while the folder is not reachable; empty otherwise.
  Q_PROPERTY(QString offlineNote READ offlineNote NOTIFY offlineNoteChanged)
  // The lines read in the frame that hold the query's words, as ResultListModel::lineList
  // gives them; empty unless the result was found by its text.
  Q_PROPERTY(QVariantList foundLines READ foundLines NOTIFY foundLinesChanged)

 public:
  explicit PreviewFacts(QObject* parent = nullptr);

  SearchModel* search() const;
  void setSearch(SearchModel* search);
  FolderModel* folders() const;
  void setFolders(FolderModel* folders);
  QVariant frameId() const;
  void setFrameId(const QVariant& frameId);

  bool valid() const { return result_.has_value(); }
  qint64 shownFrameId() const { return result_ ? result_->frameID : -1; }
  QString name() const;
  bool isVideo() const;
  bool online() const;
  QUrl fileUrl() const;
  QString filePath() const;
  double openTime() const;
  QString openTimecode() const;
  bool exact() const;
  QString durationTimecode() const;
  double aspect() const;
  QString folderPath() const;
  QString sizeText() const;
  QString modifiedText() const;
  QString takenText() const;
  QString matchWords() const;
  QString offlineNote() const;
  QVariantList foundLines() const;
  // The frame id step rows away in the results, kept within the list; null when none is shown.
  Q_INVOKABLE QVariant neighbour(int step) const;

  // The words for a score against the best score of the list.
  static QString matchWords(float best, float score);
  static double aspect(int width, int height);
  // "~/x" for a path under home.
  static QString homeShortened(const QString& path);
  // "1 Jun 2024, 12:30": a date and time, at the offset given, else in local time.
  static QString dateAndTime(double seconds, std::optional<int> offsetMinutes = std::nullopt);

 signals:
  void searchChanged();
  void foldersChanged();
  void frameIdChanged();
  // Each only when its value changed, so that a re-run keeping the frame restarts no player.
  void validChanged();
  void shownFrameIdChanged();
  void nameChanged();
  void isVideoChanged();
  void onlineChanged();
  void fileUrlChanged();
  void filePathChanged();
  void openTimeChanged();
  void openTimecodeChanged();
  void exactChanged();
  void durationTimecodeChanged();
  void aspectChanged();
  void folderPathChanged();
  void sizeTextChanged();
  void modifiedTextChanged();
  void takenTextChanged();
  void matchWordsChanged();
  void offlineNoteChanged();
  void foundLinesChanged();

 private:
  void follow(QAbstractItemModel* list);
  bool attached() const { return search_ && folders_; }
  void refresh();
  // The values of this type's own properties, in declaration order.
  QVariantList values() const;
  // Emits the notify signal of each property whose value differs from the one last announced;
  // the model has already changed underneath, so the old values are kept rather than re-read.
  void announce();

  QPointer<SearchModel> search_;
  QPointer<FolderModel> folders_;
  std::optional<qint64> frameId_;
  std::optional<SearchResult> result_;
  QVariantList announced_;
};

}  // namespace quillmere
