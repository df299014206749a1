// SPDX-License-Identifier: GPL-3.0-or-later
// IndexingStatus: the indexer's progress and the totals as the status panel words them, and
// the panel's actions.
#include "IndexingStatus.h"

#include <QLocale>
#include <QSettings>
#include <QVariantMap>
#include <algorithm>
#include <vector>

#include "FolderModel.h"
#include "Format.h"
#include "index/Library.h"

namespace quillmere {
namespace {

using Kind = Indexer::Phase::Kind;

}  // namespace

IndexingStatus::IndexingStatus(FolderModel& folders, QObject* parent)
    : QObject(parent), folders_(folders) {
  connect(&folders_, &FolderModel::totalsChanged, this, &IndexingStatus::changed);
}

void IndexingStatus::attach(Library* library, Indexer* indexer) {
  library_ = library;
  indexer_ = indexer;
  emit changed();
}

void IndexingStatus::setTextReading(TextReading::State state) {
  textReading_ = state;
  emit readsTextChanged();
}

bool IndexingStatus::readsText() const {
  return QSettings().value(readsTextKey, true).toBool();
}

void IndexingStatus::setReadsText(bool on) {
  if (on == readsText()) return;
  QSettings().setValue(readsTextKey, on);
  if (indexer_) {
    indexer_->switchStage(Library::textStage, on);
    // Switched on, a run reads the files indexed meanwhile.
    if (on) indexer_->run(std::vector<std::int64_t>{});
  }
  emit readsTextChanged();
}

QString IndexingStatus::textNote() const {
  if (!readsText()) return {};
  switch (textReading_) {
    case TextReading::State::noModel:
      return tr("Text in pictures is not read: no text model is installed.");
    case TextReading::State::modelDamaged:
      return tr("Text in pictures is not read: the text model is damaged.");
    case TextReading::State::on:
    case TextReading::State::off:
      break;
  }
  return {};
}

void IndexingStatus::setProgress(const Indexer::Progress& progress) {
  progress_ = progress;
  emit changed();
}

IndexingStatus::Phase IndexingStatus::phase() const {
  switch (progress_.phase.kind) {
    case Kind::paused:
      return Phase::Paused;
    case Kind::scanning:
      return Phase::Scanning;
    case Kind::indexing:
      return Phase::Indexing;
    case Kind::idle:
      break;
  }
  return Phase::Idle;
}

IndexingStatus::PauseReason IndexingStatus::pauseReason() const {
  const auto reason = progress_.phase.reason;
  if (!reason) return PauseReason::None;
  switch (*reason) {
    case Indexer::PauseReason::lowPower:
      return PauseReason::LowPower;
    case Indexer::PauseReason::hot:
      return PauseReason::Hot;
    case Indexer::PauseReason::user:
      break;
  }
  return PauseReason::User;
}

bool IndexingStatus::pausedByUser() const {
  return progress_.phase == Indexer::Phase::paused(Indexer::PauseReason::user);
}

QString IndexingStatus::title() const {
  const auto reason = progress_.phase.reason;
  if (!reason) return tr("Indexing");
  switch (*reason) {
    case Indexer::PauseReason::user:
      return tr("Paused");
    case Indexer::PauseReason::lowPower:
      return tr("Paused while Power Saver is on");
    case Indexer::PauseReason::hot:
      return tr("Paused while the computer cools down");
  }
  return tr("Paused");
}

QString IndexingStatus::summary() const {
  if (readOnly()) return readOnlyText();
  const Phase now = phase();
  if (now == Phase::Scanning) return tr("Looking for new files…");
  if (now == Phase::Indexing || now == Phase::Paused) {
    if (totalBytes() < 1) return title();
    return tr("%1 · %2").arg(title(), Format::bytesShort(doneBytes(), totalBytes()));
  }
  // A run the library refused to store says why instead of "Up to date".
  if (progress_.problem) return problemText();
  if (files() < 1) return {};
  const qint64 count = indexed();
  return tr("Up to date · %Ln item(s)", nullptr, static_cast<int>(count));
}

QString IndexingStatus::problemText() const {
  if (!progress_.problem) return {};
  const Indexer::Refusal& refusal = progress_.problem->refusal;
  const QString folder = QString::fromStdString(refusal.folder);
  QString why;
  switch (refusal.cause) {
    case Indexer::Refusal::Cause::diskFull:
      why = tr("the disk holding %1 is full").arg(folder);
      break;
    case Indexer::Refusal::Cause::overQuota:
      why = tr("your disk quota for %1 is used up").arg(folder);
      break;
    case Indexer::Refusal::Cause::diskReadOnly:
      why = tr("the disk holding %1 is read-only").arg(folder);
      break;
    case Indexer::Refusal::Cause::diskFailing:
      why = tr("the disk holding %1 reports an input/output error").arg(folder);
      break;
    case Indexer::Refusal::Cause::fileReadOnly:
      why = tr("the library file in %1 is read-only").arg(folder);
      break;
    case Indexer::Refusal::Cause::other:
      why = QString::fromStdString(refusal.detail);
      break;
  }
  const QString text = tr("The library can't be written: %1.").arg(why);
  const int waiting = progress_.problem->waiting;
  if (waiting < 1) return text;
  return tr("%1 %Ln file(s) wait to be indexed.", nullptr, waiting).arg(text);
}

double IndexingStatus::fraction() const {
  const auto& progress = progress_;
  if (progress.totalBytes < 1) return 0;
  return std::min(
      1.0, static_cast<double>(progress.doneBytes) / static_cast<double>(progress.totalBytes));
}

double IndexingStatus::doneBytes() const {
  return static_cast<double>(progress_.doneBytes);
}

double IndexingStatus::totalBytes() const {
  return static_cast<double>(progress_.totalBytes);
}

int IndexingStatus::doneFiles() const {
  return progress_.doneFiles;
}

int IndexingStatus::totalFiles() const {
  return progress_.totalFiles;
}

double IndexingStatus::secondsLeft() const {
  return progress_.secondsLeft.value_or(-1);
}

QString IndexingStatus::currentFile() const {
  return QString::fromStdString(progress_.current.value_or(""));
}

qint64 IndexingStatus::unsupportedVideos() const {
  return progress_.unsupportedVideos;
}

QStringList IndexingStatus::unreadable() const {
  QStringList paths;
  for (const std::string& path : progress_.unreadable) paths << QString::fromStdString(path);
  return paths;
}

qint64 IndexingStatus::indexed() const {
  return folders_.totalIndexed();
}

qint64 IndexingStatus::files() const {
  return folders_.totalFiles();
}

qint64 IndexingStatus::failed() const {
  return folders_.totalFailed();
}

bool IndexingStatus::readOnly() const {
  return library_ && !indexer_;
}

QString IndexingStatus::readOnlyText() const {
  return tr(busyNotice);
}

QVariantList IndexingStatus::failedFiles() const {
  const auto* library = library_;
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
  if (auto* indexer = indexer_) indexer->pause();
}

void IndexingStatus::resume() {
  if (auto* indexer = indexer_) indexer->resume();
}

void IndexingStatus::togglePause() {
  if (pausedByUser()) {
    resume();
  } else {
    pause();
  }
}

void IndexingStatus::indexAnyway() {
  auto* indexer = indexer_;
  if (!indexer) return;
  indexer->ignoreLowPower = true;
  indexer->resume();
}

void IndexingStatus::retryFailed() {
  auto* library = library_;
  auto* indexer = indexer_;
  if (library && indexer) {
    try {
      library->retryFailed();
    } catch (const std::exception&) {
      // The totals below say what stayed failed.
    }
    indexer->run(std::vector<std::int64_t>{});
  }
  folders_.refreshTotals();
}

void IndexingStatus::indexAgain(qint64 rootID) {
  if (auto* indexer = indexer_) indexer->run(std::vector<std::int64_t>{rootID});
}

}  // namespace quillmere
