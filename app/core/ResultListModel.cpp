// SPDX-License-Identifier: GPL-3.0-or-later
// ResultListModel: the rows and their roles, and applying a re-run as the fewest moves.
#include "ResultListModel.h"

#include <QPointF>
#include <QStringList>
#include <QVariantMap>
#include <algorithm>
#include <numeric>
#include <utility>

#include "scan/Timecode.h"

namespace quillmere {
namespace {

// Each frame's row; none when a frame is listed twice, as rows then cannot be told apart.
std::optional<std::unordered_map<std::int64_t, int>> frameRows(
    const std::vector<SearchResult>& results) {
  std::unordered_map<std::int64_t, int> rows;
  rows.reserve(results.size());
  for (std::size_t i = 0; i < results.size(); ++i) {
    if (!rows.emplace(results[i].frameID, static_cast<int>(i)).second) return std::nullopt;
  }
  return rows;
}

// Marks the members of one longest increasing subsequence of distinct values, in O(n log n):
// the rows that can stay while the others move around them.
std::vector<bool> longestIncreasing(const std::vector<int>& values) {
  std::vector<int> tails;  // for each length, the index of the smallest value ending one
  std::vector<int> previous(values.size(), -1);
  for (int i = 0; i < static_cast<int>(values.size()); ++i) {
    const auto at = std::lower_bound(tails.begin(), tails.end(), values[i],
                                     [&](int index, int value) { return values[index] < value; });
    if (at != tails.begin()) previous[i] = *(at - 1);
    if (at == tails.end()) {
      tails.push_back(i);
    } else {
      *at = i;
    }
  }
  std::vector<bool> members(values.size(), false);
  for (int i = tails.empty() ? -1 : tails.back(); i >= 0; i = previous[i]) members[i] = true;
  return members;
}

QString foundText(const std::vector<TextLine>& lines) {
  QStringList texts;
  for (const TextLine& line : lines) texts.push_back(QString::fromStdString(line.text));
  return texts.join(u'\n');
}

}  // namespace

ResultListModel::ResultListModel(QObject* parent) : QAbstractListModel(parent) {}

int ResultListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(results_.size());
}

QVariant ResultListModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
    return {};
  }
  const auto& result = results_[static_cast<std::size_t>(index.row())];
  const bool video = result.file.kind == MediaKind::video;
  switch (role) {
    case FrameIdRole:
      return QVariant::fromValue<qint64>(result.frameID);
    case FileIdRole:
      return QVariant::fromValue<qint64>(result.file.id);
    case Qt::DisplayRole:
    case NameRole:
      return QString::fromStdString(result.file.name());
    case RelPathRole:
      return QString::fromStdString(result.file.relPath);
    case IsVideoRole:
      return video;
    case TimeRole:
      return result.time;
    case TimecodeRole:
      return video ? QString::fromStdString(shortTimecode(result.time)) : QString();
    case ScoreRole:
      return result.score;
    case ProbabilityRole:
      return result.probability;
    case OpenTimecodeRole:
      return video ? QString::fromStdString(shortTimecode(openTime(result))) : QString();
    case OfflineNoteRole:
      return offlineNote_ ? offlineNote_(result.file) : QString();
    case FoundByTextRole:
      return result.foundByText();
    case FoundTextRole:
      return foundText(result.foundText.lines);
    case FoundLinesRole:
      return lineList(result.foundText.lines);
    default:
      return {};
  }
}

QHash<int, QByteArray> ResultListModel::roleNames() const {
  return {{FrameIdRole, "frameId"},
          {FileIdRole, "fileId"},
          {NameRole, "name"},
          {RelPathRole, "relPath"},
          {IsVideoRole, "isVideo"},
          {TimeRole, "time"},
          {TimecodeRole, "timecode"},
          {ScoreRole, "score"},
          {ProbabilityRole, "probability"},
          {OpenTimecodeRole, "openTimecode"},
          {OfflineNoteRole, "offlineNote"},
          {FoundByTextRole, "foundByText"},
          {FoundTextRole, "foundText"},
          {FoundLinesRole, "foundLines"}};
}

QVariantList ResultListModel::lineList(const std::vector<TextLine>& lines) {
  QVariantList list;
  for (const TextLine& line : lines) {
    QVariantList box;
    for (const TextLine::Point& point : line.box) box.push_back(QPointF(point.x, point.y));
    list.push_back(QVariantMap{{"text", QString::fromStdString(line.text)}, {"box", box}});
  }
  return list;
}

int ResultListModel::rowOf(qint64 frameID) const {
  return row(frameID).value_or(-1);
}

QVariant ResultListModel::frameAt(int row) const {
  if (row < 0 || row >= rowCount()) return {};
  return QVariant::fromValue<qint64>(results_[static_cast<std::size_t>(row)].frameID);
}

void ResultListModel::setExactTime(std::int64_t frameID, double time) {
  exactTimes_[frameID] = time;
  if (const auto found = row(frameID)) {
    const auto at = index(*found);
    emit dataChanged(at, at, {OpenTimecodeRole});
  }
}

void ResultListModel::clearExactTimes() {
  if (exactTimes_.empty()) return;
  exactTimes_.clear();
  everyRowChanged({OpenTimecodeRole});
}

double ResultListModel::openTime(const SearchResult& result) const {
  const auto found = exactTimes_.find(result.frameID);
  return found != exactTimes_.end() ? found->second : result.time;
}

void ResultListModel::setOfflineNote(OfflineNote note) {
  offlineNote_ = std::move(note);
  offlineChanged();
}

void ResultListModel::offlineChanged() {
  everyRowChanged({OfflineNoteRole});
}

void ResultListModel::everyRowChanged(const QList<int>& roles) {
  if (results_.empty()) return;
  emit dataChanged(index(0), index(rowCount() - 1), roles);
}

std::optional<int> ResultListModel::row(std::int64_t frameID) const {
  for (std::size_t i = 0; i < results_.size(); ++i) {
    if (results_[i].frameID == frameID) return static_cast<int>(i);
  }
  return std::nullopt;
}

void ResultListModel::setResults(std::vector<SearchResult> results) {
  const auto wanted = frameRows(results);
  if (!wanted || !frameRows(results_)) {
    reset(std::move(results));
    return;
  }
  const auto before = results_.size();
  removeUnwanted(*wanted);
  moveIntoOrder(*wanted);
  insertMissing(results);
  updateChanged(results);
  if (results_.size() != before) emit countChanged();
}

void ResultListModel::reset(std::vector<SearchResult> results) {
  const bool countMoved = results_.size() != results.size();
  beginResetModel();
  results_ = std::move(results);
  endResetModel();
  if (countMoved) emit countChanged();
}

void ResultListModel::removeUnwanted(const FrameRows& wanted) {
  const auto unwanted = [&](int row) { return !wanted.contains(results_[row].frameID); };
  // From the end, so the rows still to look at keep their numbers.
  for (int last = static_cast<int>(results_.size()) - 1; last >= 0; --last) {
    if (!unwanted(last)) continue;
    int first = last;
    while (first > 0 && unwanted(first - 1)) --first;
    beginRemoveRows({}, first, last);
    results_.erase(results_.begin() + first, results_.begin() + last + 1);
    endRemoveRows();
    last = first;
  }
}

void ResultListModel::moveIntoOrder(const FrameRows& wanted) {
  const auto count = static_cast<int>(results_.size());
  std::vector<int> targets(count);
  for (int row = 0; row < count; ++row) targets[row] = wanted.at(results_[row].frameID);
  const auto staying = longestIncreasing(targets);
  // The listed frames in their new order, and whether each one has to move.
  std::vector<int> byTarget(count);
  std::iota(byTarget.begin(), byTarget.end(), 0);
  std::sort(byTarget.begin(), byTarget.end(),
            [&](int a, int b) { return targets[a] < targets[b]; });
  std::vector<std::int64_t> frames(count);
  std::vector<bool> moving(count);
  for (int rank = 0; rank < count; ++rank) {
    frames[rank] = results_[byTarget[rank]].frameID;
    moving[rank] = !staying[byTarget[rank]];
  }
  // Each frame that moves goes just after the frame before it in the new order, which is
  // already in place; the frames right behind it both now and in the new order go with it.
  for (int rank = 0; rank < count;) {
    if (!moving[rank]) {
      ++rank;
      continue;
    }
    const int from = *row(frames[rank]);
    int length = 1;
    while (rank + length < count && moving[rank + length] && from + length < count &&
           results_[from + length].frameID == frames[rank + length]) {
      ++length;
    }
    moveBlock(from, length, rank == 0 ? 0 : *row(frames[rank - 1]) + 1);
    rank += length;
  }
}

// `to` is the row before which the rows go, numbered before the move, as Qt counts it.
void ResultListModel::moveBlock(int from, int length, int to) {
  if (to >= from && to <= from + length) return;  // already there
  beginMoveRows({}, from, from + length - 1, {}, to);
  const auto begin = results_.begin();
  if (to < from) {
    std::rotate(begin + to, begin + from, begin + from + length);
  } else {
    std::rotate(begin + from, begin + from + length, begin + to);
  }
  endMoveRows();
}

void ResultListModel::insertMissing(const std::vector<SearchResult>& results) {
  const auto count = static_cast<int>(results.size());
  for (int row = 0; row < count;) {
    const auto next = row < static_cast<int>(results_.size())
                          ? std::optional<std::int64_t>(results_[row].frameID)
                          : std::nullopt;
    if (next == results[row].frameID) {
      ++row;
      continue;
    }
    int end = row + 1;
    while (end < count && next != results[end].frameID) ++end;
    beginInsertRows({}, row, end - 1);
    results_.insert(results_.begin() + row, results.begin() + row, results.begin() + end);
    endInsertRows();
    row = end;
  }
}

void ResultListModel::updateChanged(std::vector<SearchResult>& results) {
  const auto count = static_cast<int>(results.size());
  for (int first = 0; first < count; ++first) {
    if (results_[first] == results[first]) continue;
    int last = first;
    while (last + 1 < count && !(results_[last + 1] == results[last + 1])) ++last;
    for (int row = first; row <= last; ++row) results_[row] = std::move(results[row]);
    emit dataChanged(index(first), index(last));
    first = last;
  }
}

}  // namespace quillmere
