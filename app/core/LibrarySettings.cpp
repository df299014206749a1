#include "LibrarySettings.h"

#include <QDesktopServices>
#include <QLocale>
#include <QUrl>
#include <system_error>

#include "AppModel.h"

namespace quillmere {
namespace {

QString fileSize(qint64 bytes) {
  return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

}  // namespace

LibrarySettings::LibrarySettings(QObject* parent) : QObject(parent) {}

void LibrarySettings::setApp(AppModel* app) {
  if (app == app_) return;
  app_ = app;
  emit appChanged();
  refresh();
}

QString LibrarySettings::libraryPath() const {
  return app_ ? QString::fromStdString(app_->libraryURL().string()) : QString();
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
  const qint64 bytes = app_ ? bytesOnDisk(app_->libraryURL()) : 0;
  if (bytes == libraryBytes_) return;
  libraryBytes_ = bytes;
  emit libraryBytesChanged();
}

void LibrarySettings::erase() {
  if (!app_ || !app_->library()) return;
  const auto folders = app_->folders()->folders();
  if (folders.empty()) return;
  for (const auto& folder : folders) app_->removeFolder(folder.root.id);
  try {
    app_->library()->compact();
  } catch (const std::exception& failure) {
    // The folders are gone; what they left may still be in the file's free pages.
    app_->setNotice(QStringLiteral("Quillmere forgot its folders but couldn't compact its "
                                   "library: %1")
                        .arg(QString::fromStdString(failure.what())));
    refresh();
    emit erased();
    return;
  }
  refresh();
  app_->setNotice(QStringLiteral("Quillmere forgot its folders. The library now takes %1.")
                      .arg(fileSize(libraryBytes_)));
  emit erased();
}

void LibrarySettings::showLibrary() const {
  if (!app_) return;
  QDesktopServices::openUrl(
      QUrl::fromLocalFile(QString::fromStdString(app_->libraryURL().parent_path().string())));
}

bool LibrarySettings::isDemoModel() const {
  const auto info = app_ ? app_->modelInfo() : std::nullopt;
  return info && (info->hf == "quillmere-demo" || info->kind.starts_with("demo"));
}

QString LibrarySettings::modelName() const {
  const auto info = app_ ? app_->modelInfo() : std::nullopt;
  if (!info) return QStringLiteral("No model loaded");
  const QString id = QString::fromStdString(info->hf);
  return isDemoModel() ? QStringLiteral("Demo model (%1)").arg(id) : id;
}

QString LibrarySettings::modelUnderstands() const {
  const auto info = app_ ? app_->modelInfo() : std::nullopt;
  if (!info) return {};
  if (isDemoModel()) {
    return QStringLiteral(
        "It knows colours and light only: it can find a red photo or a dark "
        "one, but not a dog, a beach or a face.");
  }
  return QStringLiteral("It finds photos and moments from a description in words (%1).")
      .arg(QString::fromStdString(info->kind));
}

QString LibrarySettings::modelHelp() const {
  return QStringLiteral(
      "Real models are published as model folders (a model.json with an "
      "image and a text encoder); start Quillmere with QUILLMERE_MODEL_DIR "
      "set to one to use it. Every file is then indexed again.");
}

}  // namespace quillmere
