#include "ResultListModel.h"

#include "scan/Timecode.h"

namespace quillmere {
namespace {

bool sameFrames(const std::vector<SearchResult>& a, const std::vector<SearchResult>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].frameID != b[i].frameID) return false;
  }
  return true;
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
    default:
      return {};
  }
}

QHash<int, QByteArray> ResultListModel::roleNames() const {
  return {{FrameIdRole, "frameId"},   {FileIdRole, "fileId"},   {NameRole, "name"},
          {RelPathRole, "relPath"},   {IsVideoRole, "isVideo"}, {TimeRole, "time"},
          {TimecodeRole, "timecode"}, {ScoreRole, "score"},     {ProbabilityRole, "probability"}};
}

std::optional<int> ResultListModel::row(std::int64_t frameID) const {
  for (std::size_t i = 0; i < results_.size(); ++i) {
    if (results_[i].frameID == frameID) return static_cast<int>(i);
  }
  return std::nullopt;
}

bool ResultListModel::setResults(std::vector<SearchResult> results) {
  if (!sameFrames(results_, results)) {
    const bool countMoved = results_.size() != results.size();
    beginResetModel();
    results_ = std::move(results);
    endResetModel();
    if (countMoved) emit countChanged();
    return false;
  }
  for (std::size_t i = 0; i < results.size(); ++i) {
    if (results_[i] == results[i]) continue;
    results_[i] = std::move(results[i]);
    const auto at = index(static_cast<int>(i));
    emit dataChanged(at, at);
  }
  return true;
}

}  // namespace quillmere
