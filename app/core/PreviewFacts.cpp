// SPDX-License-Identifier: GPL-3.0-or-later
// PreviewFacts: the facts of the shown result, refreshed as the model changes.
#include "PreviewFacts.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QMetaProperty>
#include <algorithm>
#include <utility>

#include "AppModel.h"
#include "scan/Timecode.h"

namespace quillmere {

PreviewFacts::PreviewFacts(QObject* parent) : QObject(parent), announced_(values()) {}

void PreviewFacts::setApp(AppModel* app) {
  if (app_ == app) return;
  if (app_) {
    disconnect(app_->search(), nullptr, this, nullptr);
    disconnect(app_->search()->results(), nullptr, this, nullptr);
    disconnect(app_->folders()->list(), nullptr, this, nullptr);
  }
  app_ = app;
  if (app_) follow(app_);
  refresh();
}

void PreviewFacts::follow(AppModel* app) {
  connect(app->search(), &SearchModel::exactTimesChanged, this, &PreviewFacts::refresh);
  // Rows and folders change under a kept frame id: a re-run, a drive coming and going.
  for (QAbstractItemModel* list : {static_cast<QAbstractItemModel*>(app->search()->results()),
                                   static_cast<QAbstractItemModel*>(app->folders()->list())}) {
    connect(list, &QAbstractItemModel::modelReset, this, &PreviewFacts::refresh);
    connect(list, &QAbstractItemModel::dataChanged, this, &PreviewFacts::refresh);
    connect(list, &QAbstractItemModel::rowsInserted, this, &PreviewFacts::refresh);
    connect(list, &QAbstractItemModel::rowsRemoved, this, &PreviewFacts::refresh);
  }
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
  if (app_ && frameId_) {
    const auto row = app_->search()->results()->row(*frameId_);
    if (row) result_ = app_->search()->results()->results()[static_cast<std::size_t>(*row)];
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

QString PreviewFacts::name() const {
  return result_ ? QString::fromStdString(result_->file.name()) : QString();
}

bool PreviewFacts::isVideo() const {
  return result_ && result_->file.kind == MediaKind::video;
}

bool PreviewFacts::online() const {
  return result_ && app_ && app_->folders()->isOnline(result_->file);
}

QString PreviewFacts::filePath() const {
  if (!result_ || !app_) return {};
  const auto location = app_->folders()->url(result_->file);
  return location ? QString::fromStdString(location->string()) : QString();
}

QUrl PreviewFacts::fileUrl() const {
  const auto path = filePath();
  return path.isEmpty() ? QUrl() : QUrl::fromLocalFile(path);
}

double PreviewFacts::openTime() const {
  return result_ && app_ ? app_->search()->openTime(*result_) : 0;
}

QString PreviewFacts::openTimecode() const {
  return QString::fromStdString(timecode(openTime()));
}

bool PreviewFacts::exact() const {
  return result_ && app_ && app_->search()->exactTimes().contains(result_->frameID);
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
  if (!result_ || !app_) return {};
  const auto folder = app_->folders()->folder(result_->file);
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
  if (!result_ || !app_ || app_->search()->results()->results().empty()) return {};
  return matchWords(app_->search()->results()->results().front().score, result_->score);
}

QString PreviewFacts::offlineNote() const {
  if (!result_ || !app_ || online()) return {};
  const auto folder = app_->folders()->folder(result_->file);
  const auto volume = folder && folder->root.volumeName && !folder->root.volumeName->empty()
                          ? QString::fromStdString(*folder->root.volumeName)
                          : tr("a drive");
  return tr("On %1 that isn't connected. Connect it to open this file.").arg(volume);
}

QVariant PreviewFacts::neighbour(int step) const {
  if (!result_ || !app_) return {};
  const auto& results = app_->search()->results()->results();
  const auto row = app_->search()->results()->row(result_->frameID);
  if (!row) return {};
  const auto last = static_cast<int>(results.size()) - 1;
  const auto next = std::clamp(*row + step, 0, last);
  return QVariant::fromValue<qint64>(results[static_cast<std::size_t>(next)].frameID);
}

}  // namespace quillmere
