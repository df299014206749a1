// What the settings window shows and does beyond the folder list: the size of the library
// files, erasing what the library learned, and the search model in use. The AppModel it is
// given must outlive it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <filesystem>

namespace quillmere {

class AppModel;

class LibrarySettings : public QObject {
  Q_OBJECT
  Q_PROPERTY(AppModel* app READ app WRITE setApp NOTIFY appChanged)
  Q_PROPERTY(QString libraryPath READ libraryPath NOTIFY appChanged)
  // The library file with its "-wal" and "-shm" files, in bytes, as of the last refresh.
  Q_PROPERTY(qint64 libraryBytes READ libraryBytes NOTIFY libraryBytesChanged)
  Q_PROPERTY(QString modelName READ modelName NOTIFY appChanged)
  // What the model understands, in a sentence.
  Q_PROPERTY(QString modelUnderstands READ modelUnderstands NOTIFY appChanged)
  // Where real models come from.
  Q_PROPERTY(QString modelHelp READ modelHelp CONSTANT)

 public:
  explicit LibrarySettings(QObject* parent = nullptr);

  AppModel* app() const { return app_; }
  void setApp(AppModel* app);
  QString libraryPath() const;
  qint64 libraryBytes() const { return libraryBytes_; }
  QString modelName() const;
  QString modelUnderstands() const;
  QString modelHelp() const;

  // The sum of the sizes of the file and its "-wal" and "-shm" files; 0 for each missing.
  static qint64 bytesOnDisk(const std::filesystem::path& library);

  Q_INVOKABLE void refresh();
  // Forgets every folder, then compacts the library so that nothing of them stays in its
  // files, and says how large the library now is. With no folder, does nothing.
  Q_INVOKABLE void erase();
  // Opens the folder holding the library file in the file manager.
  Q_INVOKABLE void showLibrary() const;

 signals:
  void appChanged();
  void libraryBytesChanged();
  // An erase finished; the notice says what the library now takes.
  void erased();

 private:
  bool isDemoModel() const;

  QPointer<AppModel> app_;
  qint64 libraryBytes_ = 0;
};

}  // namespace quillmere
