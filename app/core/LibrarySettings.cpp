// SPDX-License-Identifier: GPL-3.0-or-later
// LibrarySettings: the library's size, erasing it, and importing a search model.
#include "LibrarySettings.h"

#include <QDir>
#include <QLocale>
#include <QUrl>
#include <system_error>

#include "Actions.h"
#include "FolderListModel.h"
#include "FolderModel.h"
#include "GuiQueue.h"
#include "IndexingStatus.h"
#include "ModelWords.h"
#include "SearchModel.h"
#include "SerialQueue.h"
#include "catalogue/ModelImport.h"
#include "model/ModelChoice.h"

namespace quillmere {
namespace {

QString fileSize(qint64 bytes) {
  return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

}  // namespace

LibrarySettings::LibrarySettings(QObject* parent)
    : QObject(parent),
      gui_(new GuiQueue(this)),
      queue_(std::make_unique<SerialQueue>("quillmere.model-import")) {}

LibrarySettings::~LibrarySettings() {
  queue_.reset();
}

SearchModel* LibrarySettings::search() const {
  return search_;
}

FolderModel* LibrarySettings::folders() const {
  return folders_;
}

IndexingStatus* LibrarySettings::indexing() const {
  return indexing_;
}

Actions* LibrarySettings::actions() const {
  return actions_;
}

void LibrarySettings::setSearch(SearchModel* search) {
  if (search == search_) return;
  search_ = search;
  emit searchChanged();
}

void LibrarySettings::setFolders(FolderModel* folders) {
  if (folders == folders_) return;
  folders_ = folders;
  emit foldersChanged();
}

void LibrarySettings::setIndexing(IndexingStatus* indexing) {
  if (indexing == indexing_) return;
  if (indexing_) disconnect(indexing_, nullptr, this, nullptr);
  indexing_ = indexing;
  // The library grows as files are indexed: the size shown follows.
  if (indexing_) connect(indexing_, &IndexingStatus::changed, this, &LibrarySettings::refresh);
  emit indexingChanged();
}

void LibrarySettings::setActions(Actions* actions) {
  if (actions == actions_) return;
  actions_ = actions;
  emit actionsChanged();
}

void LibrarySettings::setLibraryPath(const QString& path) {
  if (path == libraryPath_) return;
  libraryPath_ = path;
  emit libraryPathChanged();
  refresh();
}

std::optional<ModelInfo> LibrarySettings::modelInfo() const {
  return search_ ? search_->modelInfo() : std::nullopt;
}

qint64 LibrarySettings::bytesOnDisk(const std::filesystem::path& library) {
  qint64 total = 0;
  for (const char* suffix : {"", "-wal", "-shm"}) {
    std::error_code error;
    const auto size = std::filesystem::file_size(library.string() + suffix, error);
    if (!error) total += static_cast<qint64>(size);
  }
  return total;
}

void LibrarySettings::refresh() {
  const qint64 bytes = libraryPath_.isEmpty() ? 0 : bytesOnDisk(libraryPath_.toStdString());
  if (bytes == libraryBytes_) return;
  libraryBytes_ = bytes;
  emit libraryBytesChanged();
}

void LibrarySettings::erase() {
  if (!folders_ || !folders_->library()) return;
  const auto folders = folders_->list()->folders();
  if (folders.empty()) return;
  for (const auto& folder : folders) folders_->removeFolder(folder.root.id);
  try {
    folders_->library()->compact();
  } catch (const std::exception& failure) {
    // The folders are gone; what they left may still be in the file's free pages.
    emit noticed(tr("Quillmere forgot its folders but couldn't compact its library: %1")
                     .arg(QString::fromStdString(failure.what())));
    refresh();
    emit erased();
    return;
  }
  refresh();
  emit noticed(
      tr("Quillmere forgot its folders. The library now takes %1.").arg(fileSize(libraryBytes_)));
  emit erased();
}

void LibrarySettings::showLibrary() const {
  if (actions_ && !libraryPath_.isEmpty()) actions_->reveal(libraryPath_.toStdString());
}

bool LibrarySettings::isDemoModel() const {
  const auto info = modelInfo();
  return info && info->isDemo();
}

QString LibrarySettings::modelName() const {
  const auto info = modelInfo();
  if (!info) return tr("No model loaded");
  const QString id = QString::fromStdString(info->hf);
  return isDemoModel() ? tr("Demo model (%1)").arg(id) : id;
}

QString LibrarySettings::modelUnderstands() const {
  const auto info = modelInfo();
  if (!info) return {};
  if (isDemoModel()) {
    return tr(
        "It knows colours and light only: it can find a red photo or a dark "
        "one, but not a dog, a beach or a face.");
  }
  return tr("It finds photos and moments from a description in words (%1).")
      .arg(QString::fromStdString(info->kind));
}

QString LibrarySettings::modelHelp() const {
  return tr(
      "Download one of the models below (the only time Quillmere goes online, to the model "
      "hub alone), or choose an export's folder you downloaded yourself (Immich's or "
      "Optimum's layout). Every file is then indexed again.");
}

QStringList LibrarySettings::importedModels() const {
  const QDir models(QString::fromStdString(ModelChoice::modelsDirectory().string()));
  QStringList names;
  for (const QString& name : models.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
    // An import under way writes into a hidden sibling first.
    if (ModelChoice::holdsModel(ModelChoice::modelsDirectory() / name.toStdString()) &&
        !name.contains(".import-"))
      names << name;
  }
  return names;
}

QString LibrarySettings::chosenModel() const {
  const auto chosen = ModelChoice::chosen();
  if (!chosen || chosen->parent_path() != ModelChoice::modelsDirectory()) return {};
  return QString::fromStdString(chosen->filename().string());
}

void LibrarySettings::importModel(const QUrl& folder) {
  if (importing_) return;
  importing_ = true;
  importError_.clear();
  importNotes_.clear();
  emit importingChanged();
  queue_->post([this, source = folder.toLocalFile().toStdString()] {
    QString name;
    QString error;
    QStringList notes;
    try {
      ModelImport import(source);
      const auto destination = import.defaultDestination();
      if (std::filesystem::exists(destination)) {
        error = tr("A model named %1 is already imported: choose it in the list above.")
                    .arg(QString::fromStdString(import.name()));
      } else {
        import.write(destination);
        name = QString::fromStdString(import.name());
        for (const auto& note : import.notes()) notes << ModelWords::note(note);
      }
    } catch (const ModelImport::Refusal& refusal) {
      error = ModelWords::refusal(refusal);
    } catch (const std::exception& failure) {
      error = QString::fromStdString(failure.what());
    }
    gui_->post(
        [this, name, error, notes = notes.join(u'\n')] { finishImport(name, error, notes); });
  });
}

void LibrarySettings::finishImport(const QString& name, const QString& error,
                                   const QString& notes) {
  importing_ = false;
  importNotes_ = notes;
  importError_ = error.isEmpty() ? QString() : tr("Couldn't import the model: %1").arg(error);
  emit importingChanged();
  if (!error.isEmpty()) {
    emit importFailed();
    return;
  }
  emit importedModelsChanged();
  emit imported(name);
}

bool LibrarySettings::useModel(const QString& name) {
  try {
    ModelChoice::choose(ModelChoice::resolve(name.toStdString()));
  } catch (const std::exception& failure) {
    importError_ = tr("Couldn't choose the model: %1").arg(failure.what());
    emit importingChanged();
    return false;
  }
  emit importedModelsChanged();
  emit noticed(qEnvironmentVariableIsSet("QUILLMERE_MODEL_DIR")
                   ? tr("%1 is chosen, but QUILLMERE_MODEL_DIR names another model: unset it, "
                        "then quit and open Quillmere again.")
                         .arg(name)
                   : tr("%1 is chosen. Quit and open Quillmere again to use it; every file is "
                        "then indexed again.")
                         .arg(name));
  return true;
}

}  // namespace quillmere
