// The results the grid draws, best first. A re-run that finds the same frames in the same
// order changes only the rows whose values moved, so the delegates are kept.
#pragma once

#include <QAbstractListModel>
#include <optional>
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
  };
  Q_ENUM(Role)

  explicit ResultListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QHash<int, QByteArray> roleNames() const override;

  const std::vector<SearchResult>& results() const { return results_; }
  // The row of the result with this frame, if listed.
  std::optional<int> row(std::int64_t frameID) const;
  // Replaces the list; returns true when it was the same frames and the rows were updated
  // in place rather than the whole list reset.
  bool setResults(std::vector<SearchResult> results);

 signals:
  void countChanged();

 private:
  std::vector<SearchResult> results_;
};

}  // namespace quillmere
