// SPDX-License-Identifier: GPL-3.0-or-later
#include "ModelDownloads.h"

#include <QDir>
#include <QLocale>
#include <chrono>

#include "Format.h"
#include "GuiQueue.h"
#include "ModelWords.h"
#include "catalogue/DownloadStaging.h"
#include "catalogue/ModelDownload.h"
#include "model/ComputeSpeed.h"
#include "model/ModelChoice.h"

namespace quillmere {
namespace {

// "608 MB", "1.5 GB": a download's size to the precision that helps choosing.
QString sizeText(std::uint64_t megabytes) {
  return QLocale().formattedDataSize(static_cast<qint64>(megabytes) * 1'000'000,
                                     megabytes < 1000 ? 0 : 1, QLocale::DataSizeSIFormat);
}

}  // namespace

ModelDownloads::ModelDownloads(QObject* parent)
    : QAbstractListModel(parent), gui_(new GuiQueue(this)) {
  try {
    const auto catalogue = ModelCatalogue::installed();
    for (const auto& entry : catalogue.entries()) rows_.push_back({entry});
  } catch (const ModelCatalogue::Failure&) {
    // A damaged list offers nothing; importing a folder still works.
  }
  refresh();
}

ModelDownloads::~ModelDownloads() {
  stop_ = true;
  if (worker_.joinable()) worker_.join();
  if (measurer_.joinable()) measurer_.join();
}

void ModelDownloads::join() {
  if (worker_.joinable()) worker_.join();
}

void ModelDownloads::measureSpeed() {
  if (measurer_.joinable() || rate_ > 0) return;
  measurer_ = std::thread([this] {
    const double rate = ComputeSpeed::measure();
    gui_->post([this, rate] {
      measurer_.join();  // posting was its last act
      rate_ = rate;
      if (!rows_.empty()) emit dataChanged(index(0), index(rowCount() - 1), {EstimateRole});
    });
  });
}

int ModelDownloads::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant ModelDownloads::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const Row& row = rows_[static_cast<std::size_t>(index.row())];
  switch (role) {
    case IdRole:
      return QString::fromStdString(row.entry.id);
    case NameRole:
      return QString::fromStdString(row.entry.name);
    case FolderRole:
      return QString::fromStdString(row.entry.folder());
    case DetailsRole:
      // A variant's ImageNet figure is the full model's: what it has of its own is a little
      // difference in matches.
      if (!row.entry.variant.empty()) {
        return tr("%1 · %2 · matches close to the full model's")
            .arg(sizeText(row.entry.megabytes), QString::fromStdString(row.entry.languages));
      }
      return tr("%1 · %2 · ImageNet %3 %")
          .arg(sizeText(row.entry.megabytes), QString::fromStdString(row.entry.languages),
               QLocale().toString(row.entry.quality, 'f', 1));
    case EstimateRole:
      // This computer's rate is of float arithmetic; a variant's speed is measured against it.
      if (row.entry.speedup <= 0) return tr("Faster than the full model");
      if (rate_ <= 0 || row.entry.imageGflops <= 0) return QString();
      return tr("Indexes 10,000 photos in about %1 on this computer")
          .arg(Format::hours(
              ComputeSpeed::secondsFor(10'000, row.entry.imageGflops / row.entry.speedup, rate_)));
    case StateRole:
      return state(row);
    case ProgressRole:
      return std::max(row.progress, 0.0);
    case ErrorRole:
      return row.error;
    case PartialRole:
      if (row.partial < 0 || row.progress >= 0) return QString();
      return tr("Partly downloaded: %1")
          .arg(QLocale().formattedDataSize(row.partial, 1, QLocale::DataSizeSIFormat));
  }
  return {};
}

QHash<int, QByteArray> ModelDownloads::roleNames() const {
  return {{IdRole, "modelId"},      {NameRole, "name"},         {FolderRole, "folder"},
          {DetailsRole, "details"}, {StateRole, "state"},       {ProgressRole, "progress"},
          {ErrorRole, "error"},     {EstimateRole, "estimate"}, {PartialRole, "partial"}};
}

int ModelDownloads::rowOf(const QString& id) const {
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (QString::fromStdString(rows_[i].entry.id) == id) return static_cast<int>(i);
  }
  return -1;
}

QString ModelDownloads::offerId() const {
  for (const auto& row : rows_) {
    if (row.entry.recommended) return QString::fromStdString(row.entry.id);
  }
  return {};
}

bool ModelDownloads::offered() const {
  return usingDemo_ && !choiceMade_ && !offerId().isEmpty();
}

void ModelDownloads::setUsingDemo(bool demo) {
  if (demo == usingDemo_) return;
  usingDemo_ = demo;
  emit changed();
}

void ModelDownloads::show(const QString& id, double progress) {
  const int row = rowOf(id);
  if (row < 0) return;
  rows_[row].progress = progress;
  update(row);
}

ModelDownloads::State ModelDownloads::state(const Row& row) {
  return row.progress >= 0 ? Downloading : row.present ? Downloaded : Available;
}

ModelDownloads::State ModelDownloads::offerState() const {
  const int row = rowOf(offerId());
  if (row < 0) return Available;
  if (!rows_[row].error.isEmpty() && rows_[row].progress < 0) return Failed;
  return state(rows_[row]);
}

double ModelDownloads::offerProgress() const {
  const int row = rowOf(offerId());
  return row < 0 ? 0.0 : std::max(rows_[row].progress, 0.0);
}

QString ModelDownloads::offer() const {
  const int row = rowOf(offerId());
  if (row < 0) return {};
  const Row& offered = rows_[row];
  const auto name = QString::fromStdString(offered.entry.name);
  if (offered.progress >= 0) {
    return tr("Downloading %1: %2 %").arg(name).arg(qRound(offered.progress * 100));
  }
  if (offered.present) {
    return tr("%1 is downloaded. Choose it in Settings to search by meaning.").arg(name);
  }
  if (!offered.error.isEmpty()) return tr("Couldn't download %1: %2").arg(name, offered.error);
  return tr("The demo model only knows colours. Download %1 (%2) to search by meaning.")
      .arg(name, sizeText(offered.entry.megabytes));
}

void ModelDownloads::refresh() {
  const auto models = ModelChoice::modelsDirectory();
  const auto partials = DownloadStaging::partials(models);
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const bool present = ModelChoice::holdsModel(models / rows_[i].entry.folder());
    std::int64_t partial = -1;
    for (const auto& found : partials) {
      if (found.repository == rows_[i].entry.repository && found.variant == rows_[i].entry.variant)
        partial = static_cast<std::int64_t>(found.bytes);
    }
    if (present != rows_[i].present || partial != rows_[i].partial) {
      rows_[i].present = present;
      rows_[i].partial = partial;
      update(static_cast<int>(i));
    }
  }
  const bool chosen = ModelChoice::chosen().has_value();
  if (chosen != choiceMade_) {
    choiceMade_ = chosen;
    emit changed();
  }
}

void ModelDownloads::update(int row) {
  emit dataChanged(index(row), index(row));
  if (rows_[static_cast<std::size_t>(row)].entry.id == offerId().toStdString()) emit changed();
}

void ModelDownloads::download(const QString& id) {
  const int row = rowOf(id);
  if (row < 0 || worker_.joinable()) return;
  rows_[row].progress = 0;
  rows_[row].error.clear();
  update(row);
  stop_ = false;
  worker_ = std::thread([this, row, entry = rows_[row].entry] {
    QString error;
    try {
      ModelDownload download(entry.repository, ModelDownload::hubEndpoint(), entry.variant);
      auto last = std::chrono::steady_clock::now();
      download.run(ModelChoice::modelsDirectory(), [&](std::uint64_t done, std::uint64_t all) {
        const auto now = std::chrono::steady_clock::now();
        if (all > 0 && now - last > std::chrono::milliseconds(100)) {
          last = now;
          const double fraction = static_cast<double>(done) / static_cast<double>(all);
          gui_->post([this, row, fraction] {
            if (rows_[row].progress < 0) return;
            rows_[row].progress = fraction;
            update(row);
          });
        }
        return !stop_;
      });
    } catch (const ModelDownload::Failure& failure) {
      error = ModelWords::failure(failure);
    } catch (const ModelImport::Refusal& refusal) {
      error = ModelWords::refusal(refusal);
    } catch (const std::exception& failure) {
      error = QString::fromUtf8(failure.what());
    }
    gui_->post([this, row, error] { finish(row, error); });
  });
}

void ModelDownloads::discard(const QString& id) {
  const int row = rowOf(id);
  if (row < 0 || rows_[row].progress >= 0) return;
  try {
    DownloadStaging::remove(ModelChoice::modelsDirectory(), rows_[row].entry.repository,
                            rows_[row].entry.variant);
    rows_[row].error.clear();
  } catch (const DownloadStaging::Busy& busy) {
    rows_[row].error = ModelWords::busy(busy.repository(), busy.variant());
  } catch (const std::exception& failure) {
    rows_[row].error = QString::fromUtf8(failure.what());
  }
  refresh();
  update(row);
}

void ModelDownloads::cancel() {
  stop_ = true;
}

void ModelDownloads::finish(int row, const QString& error) {
  join();
  const bool stopped = stop_;
  rows_[row].progress = -1;
  rows_[row].error = stopped ? QString() : error;
  refresh();
  update(row);
  // A model that arrived as Cancel was pressed stays listed, without the question to use it.
  if (rows_[row].present && error.isEmpty() && !stopped)
    emit downloaded(QString::fromStdString(rows_[row].entry.folder()));
}

}  // namespace quillmere
