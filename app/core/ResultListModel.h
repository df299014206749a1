// SPDX-License-Identifier: GPL-3.0-or-later
// The results the grid draws, best first, with the opening time each is refined to and a note
// for a result whose folder is offline. A re-run is applied as removals, moves and
// insertions keyed by frame, so the tiles of frames still listed keep their delegates (and
// with them their pictures, the scroll position and the focus).
#pragma once

#include <QAbstractListModel>
#include <QString>
#include <QVariantList>
#include <functional>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

#include "search/SearchResult.h"

namespace quillmere {

class ResultListModel : public QAbstractListModel {
  Q_OBJECT
  Q_PROPERTY(int count READ rowCount NOTIFY countChanged)

 public:
  enum Role {
    FrameIdRole = Qt::UserRole + 1,
    FileIdRole,
    NameRole,
    RelPathRole,
    IsVideoRole,
    TimeRole,
    TimecodeRole,  // the short time code of a video result; empty for a photo
    ScoreRole,
    ProbabilityRole,
    OpenTimecodeRole,  // the short time code of the opening time (refined when known)
    OfflineNoteRole,   // "On <drive> — not connected" while the folder is offline, else empty
    FoundByTextRole,   // the query's words are written in the frame
    FoundTextRole,     // the lines holding them, one a line of text
    FoundLinesRole,    // the same as maps of text and box (four points, normalised)
  };
  Q_ENUM(Role)

  // The note shown on a result whose folder is offline; empty while it can be read.
  using OfflineNote = std::function<QString(const MediaFile&)>;

  explicit ResultListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QHash<int, QByteArray> roleNames() const override;

  const std::vector<SearchResult>& results() const { return results_; }
  // The row of the result with this frame, if listed.
  std::optional<int> row(std::int64_t frameID) const;
  // row() for the views: -1 when the frame is not listed.
  Q_INVOKABLE int rowOf(qint64 frameID) const;
  // The frame id on this row, or null.
  Q_INVOKABLE QVariant frameAt(int row) const;

  // Refined opening times by frame; a result without one opens at its own time.
  const std::map<std::int64_t, double>& exactTimes() const { return exactTimes_; }
  void setExactTime(std::int64_t frameID, double time);
  void clearExactTimes();
  double openTime(const SearchResult& result) const;
  // Where the offline notes come from; offlineChanged() when what they say may have changed.
  void setOfflineNote(OfflineNote note);
  void offlineChanged();
  // Lines as the views draw them: maps of text and box, a list of four QPointF.
  static QVariantList lineList(const std::vector<TextLine>& lines);
  // Replaces the list. Rows of frames in both lists are moved and updated rather than made
  // again; the model is reset only when a list names a frame twice.
  void setResults(std::vector<SearchResult> results);

 signals:
  void countChanged();

 private:
  // Frame id to its row in a list.
  using FrameRows = std::unordered_map<std::int64_t, int>;

  void reset(std::vector<SearchResult> results);
  void removeUnwanted(const FrameRows& wanted);
  // Puts the rows in the order of `wanted`, moving as few as it can.
  void moveIntoOrder(const FrameRows& wanted);
  void moveBlock(int from, int length, int to);
  // Inserts the frames of `results` not yet listed; the listed ones must already be in order.
  void insertMissing(const std::vector<SearchResult>& results);
  void updateChanged(std::vector<SearchResult>& results);

  // dataChanged for these roles on every row.
  void everyRowChanged(const QList<int>& roles);

  std::vector<SearchResult> results_;
  std::map<std::int64_t, double> exactTimes_;
  OfflineNote offlineNote_;
};

}  // namespace quillmere
