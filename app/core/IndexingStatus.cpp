// SPDX-License-Identifier: GPL-3.0-or-later
#include "IndexingStatus.h"

#include <QLocale>
#include <QVariantMap>
#include <algorithm>
#include <vector>

#include "AppModel.h"
#include "Format.h"

namespace quillmere {
namespace {

using Kind = Indexer::Phase::Kind;

}  // namespace

IndexingStatus::IndexingStatus(AppModel& model, QObject* parent) : QObject(parent), model_(model) {
  connect(&model_, &AppModel::progressChanged, this, &IndexingStatus::changed);
  connect(&model_, &AppModel::totalsChanged, this, &IndexingStatus::changed);
  connect(&model_, &AppModel::readyChanged, this, &IndexingStatus::changed);
}

QString IndexingStatus::phase() const {
  switch (model_.progress().phase.kind) {
    case Kind::paused:
      return QStringLiteral("paused");
    case Kind::scanning:
      return QStringLiteral("scanning");
    case Kind::indexing:
      return QStringLiteral("indexing");
    case Kind::idle:
      break;
  }
  return QStringLiteral("idle");
}

QString IndexingStatus::pauseReason() const {
  const auto reason = model_.progress().phase.reason;
  if (!reason) return {};
  switch (*reason) {
    case Indexer::PauseReason::lowPower:
      return QStringLiteral("lowPower");
    case Indexer::PauseReason::hot:
      return QStringLiteral("hot");
    case Indexer::PauseReason::user:
      break;
  }
  return QStringLiteral("user");
}

bool IndexingStatus::pausedByUser() const {
  return model_.progress().phase == Indexer::Phase::paused(Indexer::PauseReason::user);
}

QString IndexingStatus::title() const {
  const auto reason = model_.progress().phase.reason;
  return reason ? QString::fromUtf8(Indexer::text(*reason)) : QStringLiteral("Indexing");
}

QString IndexingStatus::summary() const {
  if (readOnly()) return readOnlyText();
  const QString now = phase();
  if (now == QLatin1String("scanning")) return tr("Looking for new files…");
  if (now == QLatin1String("indexing") || now == QLatin1String("paused")) {
    if (totalBytes() < 1) return title();
    return title() + " · " + Format::bytesShort(doneBytes(), totalBytes());
  }
  if (files() < 1) return {};
  const qint64 count = indexed();
  return tr("Up to date · ") + QLocale().toString(count) +
         (count == 1 ? tr(" item") : tr(" items"));
}

double IndexingStatus::fraction() const {
  const auto& progress = model_.progress();
  if (progress.totalBytes < 1) return 0;
  return std::min(
      1.0, static_cast<double>(progress.doneBytes) / static_cast<double>(progress.totalBytes));
}

double IndexingStatus::doneBytes() const {
  return static_cast<double>(model_.progress().doneBytes);
}

double IndexingStatus::totalBytes() const {
  return static_cast<double>(model_.progress().totalBytes);
}

int IndexingStatus::doneFiles() const {
  return model_.progress().doneFiles;
}

int IndexingStatus::totalFiles() const {
  return model_.progress().totalFiles;
}

double IndexingStatus::secondsLeft() const {
  return model_.progress().secondsLeft.value_or(-1);
}

QString IndexingStatus::currentFile() const {
  return QString::fromStdString(model_.progress().current.value_or(""));
}

qint64 IndexingStatus::unsupportedVideos() const {
  return model_.progress().unsupportedVideos;
}

qint64 IndexingStatus::indexed() const {
  return model_.totalIndexed();
}

qint64 IndexingStatus::files() const {
  return model_.totalFiles();
}

qint64 IndexingStatus::failed() const {
  return model_.totalFailed();
}

bool IndexingStatus::readOnly() const {
  return model_.ready() && !model_.indexer();
}

QString IndexingStatus::readOnlyText() const {
  return QString::fromUtf8(AppModel::busyNotice);
}

QVariantList IndexingStatus::failedFiles() const {
  const auto* library = model_.library();
  if (!library) return {};
  std::vector<MediaFile> failed;
  for (auto& file : library->allFiles()) {
    if (file.state == FileState::failed) failed.push_back(std::move(file));
  }
  std::sort(failed.begin(), failed.end(),
            [](const MediaFile& a, const MediaFile& b) { return a.relPath < b.relPath; });
  QVariantList list;
  for (std::size_t i = 0; i < failed.size() && i < failedListLimit; ++i) {
    list.push_back(QVariantMap{{"relPath", QString::fromStdString(failed[i].relPath)},
                               {"error", QString::fromStdString(failed[i].error.value_or(""))}});
  }
  return list;
}

void IndexingStatus::pause() {
  if (auto* indexer = model_.indexer()) indexer->pause();
}

void IndexingStatus::resume() {
  if (auto* indexer = model_.indexer()) indexer->resume();
}

void IndexingStatus::togglePause() {
  if (pausedByUser()) {
    resume();
  } else {
    pause();
  }
}

void IndexingStatus::indexAnyway() {
  auto* indexer = model_.indexer();
  if (!indexer) return;
  indexer->ignoreLowPower = true;
  indexer->resume();
}

void IndexingStatus::retryFailed() {
  auto* library = model_.library();
  auto* indexer = model_.indexer();
  if (library && indexer) {
    try {
      library->retryFailed();
    } catch (const std::exception&) {
      // The totals below say what stayed failed.
    }
    indexer->run(std::vector<std::int64_t>{});
  }
  model_.refreshTotals();
}

void IndexingStatus::indexAgain(qint64 rootID) {
  if (auto* indexer = model_.indexer()) indexer->run(std::vector<std::int64_t>{rootID});
}

}  // namespace quillmere
