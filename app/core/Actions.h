// SPDX-License-Identifier: GPL-3.0-or-later
// The file operations on a search result that several windows share: open, show in the file
// manager, copy the path, export markers; and the shell's links (help, privacy, updates).
// Lives on the GUI thread beside the search and folder models; the views reach it as
// `app.actions`.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "export/ExportPlan.h"
#include "search/SearchResult.h"

namespace quillmere {

class FolderModel;
class SearchModel;
class GuiQueue;

class Actions : public QObject {
  Q_OBJECT
  // The development-build alert of "Check for Updates…".
  Q_PROPERTY(QString updateMessage READ updateMessage CONSTANT)
  Q_PROPERTY(QString updateDetail READ updateDetail CONSTANT)
  // The save dialog's texts while an export is asked for.
  Q_PROPERTY(QString exportMessage READ exportMessage CONSTANT)
  Q_PROPERTY(QString exportTitle READ exportTitle NOTIFY exportAsked)
  Q_PROPERTY(QString exportFileName READ exportFileName NOTIFY exportAsked)
  // The save dialog's file types, in the order saveExport numbers them.
  Q_PROPERTY(QStringList exportNameFilters READ exportNameFilters CONSTANT)
  Q_PROPERTY(bool exporting READ exporting NOTIFY exportingChanged)

 public:
  static constexpr const char* site = "https://quillmere.app/";
  static constexpr const char* fileManagerService = "org.freedesktop.FileManager1";
  static constexpr const char* fileManagerPath = "/org/freedesktop/FileManager1";
  static constexpr int fileManagerTimeout = 3000;  // milliseconds before the fallback
  static constexpr const char* stillExporting =
      QT_TR_NOOP("An export is still being saved. Export again when it is done.");

  // Shows a text in the window's notice bar.
  using Notify = std::function<void(const QString&)>;

  // Acts on search's results, finding their files through folders.
  Actions(const SearchModel& search, const FolderModel& folders, Notify notify,
          QObject* parent = nullptr);
  ~Actions() override;

  // A video opens in our player at its opening time (playVideo), a photo in the user's
  // default application (the notice says when there is none); on an offline drive the
  // notice says which drive to connect.
  Q_INVOKABLE void open(qint64 frameID);
  void open(const SearchResult& result);
  // Reveals the file selected in a file-manager window; nothing while its folder is offline.
  Q_INVOKABLE void showInFolder(qint64 frameID);
  void showInFolder(const SearchResult& result);
  // Shows the item selected in the file manager, or opens its folder when none answers.
  void reveal(const std::filesystem::path& item);
  // Reveals a folder of the library itself (the sidebar's "Show in Folder").
  Q_INVOKABLE void showFolder(qint64 rootID);
  // The absolute path, with " HH:MM:SS" of the opening time when withTime.
  Q_INVOKABLE void copyPath(qint64 frameID, bool withTime);
  void copyPath(const SearchResult& result, bool withTime);
  // Starts an export: the notice when no reachable video result is listed or an export is
  // still being saved, else exportAsked (the view shows the save dialog and answers with
  // saveExport).
  Q_INVOKABLE void exportMarkers();
  // Writes the asked-for export to the chosen file off the GUI thread; exportFinished follows.
  // A name without an extension takes that of the chosen type (an index of
  // exportNameFilters), which then decides the format.
  Q_INVOKABLE void saveExport(const QUrl& file, int nameFilter = 0);
  // Where saveExport writes when the dialog answered path with that type.
  static std::filesystem::path exportPath(const std::filesystem::path& path, int nameFilter);
  Q_INVOKABLE void openHelp() const;
  Q_INVOKABLE void openPrivacy() const;

  // The help page for the first preferred language ("es/support", "pt/support" or "help").
  static QUrl helpAddress(const QStringList& languages);
  static QUrl privacyAddress();
  // "HH:MM:SS" of whole seconds.
  static QString timecode(double seconds);

  QString updateMessage() const;
  QString updateDetail() const;
  QString exportMessage() const;
  QString exportTitle() const;
  QString exportFileName() const;
  QStringList exportNameFilters() const;
  bool exporting() const { return exporting_; }

 signals:
  // A video was handed to the application's player windows, to play from this second.
  void playVideo(const QUrl& url, double seconds);
  void exportAsked();
  void exportingChanged();
  // The export ended; the notice says how.
  void exportFinished(bool ok);
  // The file manager showed the item (byFileManager) or its folder was opened instead.
  void revealed(const QString& path, bool byFileManager);

 private:
  std::optional<SearchResult> result(qint64 frameID) const;
  ExportPlan plan() const;
  void revealFallback(const std::filesystem::path& item);
  void finishExport(bool ok, const QString& notice);

  const SearchModel& search_;
  const FolderModel& folders_;
  Notify notify_;
  GuiQueue* gui_;
  std::optional<ExportPlan> asked_;  // between exportAsked and saveExport
  std::jthread writer_;              // the last export's writing
  bool exporting_ = false;
};

}  // namespace quillmere
