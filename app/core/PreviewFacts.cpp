// SPDX-License-Identifier: GPL-3.0-or-later
// PreviewFacts: the facts of the shown result, refreshed as the model changes.
#include "PreviewFacts.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QMetaProperty>
#include <algorithm>
#include <utility>

#include "FolderListModel.h"
#include "FolderModel.h"
#include "OfflineNotes.h"
#include "ResultListModel.h"
#include "SearchModel.h"
#include "scan/Timecode.h"

namespace quillmere {

PreviewFacts::PreviewFacts(QObject* parent) : QObject(parent), announced_(values()) {}

SearchModel* PreviewFacts::search() const {
  return search_;
}

FolderModel* PreviewFacts::folders() const {
  return folders_;
}

void PreviewFacts::setSearch(SearchModel* search) {
  if (search_ == search) return;
  if (search_) {
    disconnect(search_, nullptr, this, nullptr);
    disconnect(search_->results(), nullptr, this, nullptr);
  }
  search_ = search;
  if (search_) {
    connect(search_, &SearchModel::exactTimesChanged, this, &PreviewFacts::refresh);
    follow(search_->results());
  }
  refresh();
}

void PreviewFacts::setFolders(FolderModel* folders) {
  if (folders_ == folders) return;
  if (folders_) disconnect(folders_->list(), nullptr, this, nullptr);
  folders_ = folders;
  if (folders_) follow(folders_->list());
  refresh();
}

// Rows and folders change under a kept frame id: a re-run, a drive coming and going.
void PreviewFacts::follow(QAbstractItemModel* list) {
  connect(list, &QAbstractItemModel::modelReset, this, &PreviewFacts::refresh);
  connect(list, &QAbstractItemModel::dataChanged, this, &PreviewFacts::refresh);
  connect(list, &QAbstractItemModel::rowsInserted, this, &PreviewFacts::refresh);
  connect(list, &QAbstractItemModel::rowsRemoved, this, &PreviewFacts::refresh);
}

QVariant PreviewFacts::frameId() const {
  return frameId_ ? QVariant(*frameId_) : QVariant();
}

void PreviewFacts::setFrameId(const QVariant& frameId) {
  std::optional<qint64> id;
  if (frameId.isValid() && !frameId.isNull()) id = frameId.toLongLong();
  if (id == frameId_) return;
  frameId_ = id;
  refresh();
}

void PreviewFacts::refresh() {
  result_.reset();
  if (attached() && frameId_) {
    const auto row = search_->results()->row(*frameId_);
    if (row) result_ = search_->results()->results()[static_cast<std::size_t>(*row)];
  }
  announce();
}

QVariantList PreviewFacts::values() const {
  QVariantList values;
  for (int i = staticMetaObject.propertyOffset(); i < staticMetaObject.propertyCount(); ++i) {
    values.append(staticMetaObject.property(i).read(this));
  }
  return values;
}

void PreviewFacts::announce() {
  const auto before = std::exchange(announced_, values());
  for (int i = 0; i < static_cast<int>(announced_.size()); ++i) {
    if (announced_[i] == before[i]) continue;
    const auto property = staticMetaObject.property(staticMetaObject.propertyOffset() + i);
    property.notifySignal().invoke(this, Qt::DirectConnection);
  }
}

QVariantList PreviewFacts::foundLines() const {
  return result_ ? ResultListModel::lineList(result_->foundText.lines) : QVariantList();
}

QString PreviewFacts::name() const {
  return result_ ? QString::fromStdString(result_->file.name()) : QString();
}

bool PreviewFacts::isVideo() const {
  return result_ && result_->file.kind == MediaKind::video;
}

bool PreviewFacts::online() const {
  return result_ && attached() && folders_->isOnline(result_->file);
}

QString PreviewFacts::filePath() const {
  if (!result_ || !attached()) return {};
  const auto location = folders_->filePath(result_->file);
  return location ? QString::fromStdString(location->string()) : QString();
}

QUrl PreviewFacts::fileUrl() const {
  const auto path = filePath();
  return path.isEmpty() ? QUrl() : QUrl::fromLocalFile(path);
}

double PreviewFacts::openTime() const {
  return result_ && attached() ? search_->openTime(*result_) : 0;
}

QString PreviewFacts::openTimecode() const {
  return QString::fromStdString(timecode(openTime()));
}

bool PreviewFacts::exact() const {
  return result_ && attached() && search_->exactTimes().contains(result_->frameID);
}

QString PreviewFacts::durationTimecode() const {
  return result_ ? QString::fromStdString(timecode(result_->file.duration)) : QString();
}

double PreviewFacts::aspect(int width, int height) {
  if (width < 1 || height < 1) return 1.6;
  return std::clamp(static_cast<double>(width) / height, 0.5, 2.4);
}

double PreviewFacts::aspect() const {
  return result_ ? aspect(result_->file.width, result_->file.height) : 1.6;
}

QString PreviewFacts::homeShortened(const QString& path) {
  const auto home = QDir::homePath();
  if (path == home) return "~";
  if (home != "/" && path.startsWith(home + "/")) return "~" + path.mid(home.size());
  return path;
}

QString PreviewFacts::folderPath() const {
  if (!result_ || !attached()) return {};
  const auto folder = folders_->folder(result_->file);
  if (!folder) return {};
  const auto file = std::filesystem::path(folder->root.path) / result_->file.relPath;
  return homeShortened(QString::fromStdString(file.parent_path().string()));
}

QString PreviewFacts::sizeText() const {
  if (!result_ || result_->file.width < 1) return {};
  const auto& file = result_->file;
  return QStringLiteral("%1 × %2 · %3")
      .arg(file.width)
      .arg(file.height)
      .arg(QLocale().formattedDataSize(file.size, 1, QLocale::DataSizeSIFormat));
}

QString PreviewFacts::dateAndTime(double seconds, std::optional<int> offsetMinutes) {
  auto when = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(seconds * 1000.0));
  // The clock where it was taken, not where it is looked at.
  if (offsetMinutes) when = when.toOffsetFromUtc(*offsetMinutes * 60);
  const QLocale locale;
  //: %1 is a date, %2 a time of day
  return tr("%1, %2").arg(locale.toString(when.date(), QStringLiteral("d MMM yyyy")),
                          locale.toString(when.time(), QLocale::ShortFormat));
}

QString PreviewFacts::modifiedText() const {
  return result_ ? dateAndTime(result_->file.mtime) : QString();
}

QString PreviewFacts::takenText() const {
  if (!result_ || !result_->file.taken || result_->file.taken->source == TakenSource::modified)
    return {};
  return dateAndTime(result_->file.taken->seconds, result_->file.taken->offsetMinutes);
}

QString PreviewFacts::matchWords(float best, float score) {
  const float d = best - score;
  if (d < 0.01f) return tr("Best match");
  if (d < 0.03f) return tr("Strong match");
  if (d < 0.06f) return tr("Good match");
  return tr("Possible match");
}

QString PreviewFacts::matchWords() const {
  if (!result_ || !attached() || search_->results()->results().empty()) return {};
  return matchWords(search_->results()->results().front().score, result_->score);
}

QString PreviewFacts::offlineNote() const {
  if (!result_ || !attached()) return {};
  return OfflineNotes::preview(online(), folders_->folder(result_->file));
}

QVariant PreviewFacts::neighbour(int step) const {
  if (!result_ || !attached()) return {};
  const auto& results = search_->results()->results();
  const auto row = search_->results()->row(result_->frameID);
  if (!row) return {};
  const auto last = static_cast<int>(results.size()) - 1;
  const auto next = std::clamp(*row + step, 0, last);
  return QVariant::fromValue<qint64>(results[static_cast<std::size_t>(next)].frameID);
}

}  // namespace quillmere
