// SPDX-License-Identifier: GPL-3.0-or-later
// What the sidebar's status panel draws: the indexer's progress as the application
// republishes it (on the GUI thread, at most four times a second while indexing), the
// totals, the failed files, and the actions of the panel. Reached from the views as
// `app.indexing`.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include "engine/TextReading.h"
#include "indexer/Indexer.h"

namespace quillmere {

class FolderModel;
class Library;

class IndexingStatus : public QObject {
  Q_OBJECT
  Q_PROPERTY(Phase phase READ phase NOTIFY changed)
  // Why it is paused; None otherwise.
  Q_PROPERTY(PauseReason pauseReason READ pauseReason NOTIFY changed)
  Q_PROPERTY(bool pausedByUser READ pausedByUser NOTIFY changed)
  // "Indexing", or the pause reason's text.
  Q_PROPERTY(QString title READ title NOTIFY changed)
  // doneBytes / totalBytes, capped at 1; 0 below one byte in all.
  Q_PROPERTY(double fraction READ fraction NOTIFY changed)
  Q_PROPERTY(double doneBytes READ doneBytes NOTIFY changed)
  Q_PROPERTY(double totalBytes READ totalBytes NOTIFY changed)
  Q_PROPERTY(int doneFiles READ doneFiles NOTIFY changed)
  Q_PROPERTY(int totalFiles READ totalFiles NOTIFY changed)
  // Seconds left, or -1 while not yet estimated.
  Q_PROPERTY(double secondsLeft READ secondsLeft NOTIFY changed)
  Q_PROPERTY(QString currentFile READ currentFile NOTIFY changed)
  Q_PROPERTY(qint64 unsupportedVideos READ unsupportedVideos NOTIFY changed)
  // Places the last scans could not read; what the library holds from them is kept.
  Q_PROPERTY(QStringList unreadable READ unreadable NOTIFY changed)
  Q_PROPERTY(qint64 indexed READ indexed NOTIFY changed)
  Q_PROPERTY(qint64 files READ files NOTIFY changed)
  Q_PROPERTY(qint64 failed READ failed NOTIFY changed)
  // The library is open for reading only while another process indexes it.
  Q_PROPERTY(bool readOnly READ readOnly NOTIFY changed)
  Q_PROPERTY(QString readOnlyText READ readOnlyText CONSTANT)
  // The state in one line, for the panel's scanning and idle lines and the tray's tooltip:
  // "Looking for new files…", the title with the bytes done, "Up to date · N items", why the
  // last run stopped, or empty when there is nothing to say.
  Q_PROPERTY(QString summary READ summary NOTIFY changed)
  // Why the last run stopped before its files were done (the library refused its writes).
  Q_PROPERTY(bool stopped READ stopped NOTIFY changed)
  // Whether indexing reads the text in pictures; kept across starts. Switching it off keeps
  // what was read.
  Q_PROPERTY(bool readsText READ readsText WRITE setReadsText NOTIFY readsTextChanged)
  // Why no text is read although reading is on (no model, or a damaged one); else empty.
  Q_PROPERTY(QString textNote READ textNote NOTIFY readsTextChanged)

 public:
  enum class Phase { Idle, Scanning, Indexing, Paused };
  Q_ENUM(Phase)
  enum class PauseReason { None, User, LowPower, Hot };
  Q_ENUM(PauseReason)

  static constexpr int failedListLimit = 200;
  // Kept in view while another process writes the library.
  static constexpr const char* busyNotice = QT_TR_NOOP(
      "Another Quillmere process is indexing this library. You can search; new files "
      "are indexed when Quillmere is opened again after it ends.");

  static constexpr const char* readsTextKey = "indexing/readsText";

  // Reads the totals from folders.
  explicit IndexingStatus(FolderModel& folders, QObject* parent = nullptr);

  // The library and its indexer once opened; no indexer while another process writes.
  void attach(Library* library, Indexer* indexer);
  void setProgress(const Indexer::Progress& progress);
  // What opening the text model gave, for textNote.
  void setTextReading(TextReading::State state);
  const Indexer::Progress& progress() const { return progress_; }

  Phase phase() const;
  PauseReason pauseReason() const;
  // Why the last run stopped, in the user's words; empty when it did not.
  QString problemText() const;
  bool pausedByUser() const;
  QString title() const;
  double fraction() const;
  double doneBytes() const;
  double totalBytes() const;
  int doneFiles() const;
  int totalFiles() const;
  double secondsLeft() const;
  QString currentFile() const;
  qint64 unsupportedVideos() const;
  QStringList unreadable() const;
  qint64 indexed() const;
  qint64 files() const;
  qint64 failed() const;
  bool readOnly() const;
  QString readOnlyText() const;
  QString summary() const;
  bool stopped() const { return progress_.problem.has_value(); }
  bool readsText() const;
  void setReadsText(bool on);
  QString textNote() const;

  // The failed files by path, the first failedListLimit: maps of relPath and error.
  Q_INVOKABLE QVariantList failedFiles() const;
  Q_INVOKABLE void pause();
  Q_INVOKABLE void resume();
  // The panel's button: resume a user pause, else pause (a pause for power or heat
  // becomes the user's).
  Q_INVOKABLE void togglePause();
  // Indexes in power-saving mode too.
  Q_INVOKABLE void indexAnyway();
  // Marks the failed files pending again, indexes them, and refreshes the totals.
  Q_INVOKABLE void retryFailed();
  // Scans one folder again.
  Q_INVOKABLE void indexAgain(qint64 rootID);

 signals:
  void changed();
  void readsTextChanged();

 private:
  FolderModel& folders_;
  Library* library_ = nullptr;
  Indexer* indexer_ = nullptr;
  Indexer::Progress progress_;
  TextReading::State textReading_ = TextReading::State::off;
};

}  // namespace quillmere
