// SPDX-License-Identifier: GPL-3.0-or-later
// One running application per user: the first launch holds a lock and listens on a local
// socket in the runtime directory, both named after the application id; a later launch hands
// its paths and search text to that one and exits. The lock is the kernel's (flock), so it
// goes with a process killed outright, and a socket file such a process left behind is
// replaced.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <chrono>

namespace quillmere {

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  // What a launch hands over.
  struct Request {
    QList<QUrl> files;        // local files and folders
    QString query;            // a text to search for, empty for none
    QString activationToken;  // the launcher's XDG_ACTIVATION_TOKEN or DESKTOP_STARTUP_ID
  };

  enum class Role {
    first,       // this process is the instance (listening, unless error() says why not)
    handedOver,  // another instance has the request; this one should exit
    failed,      // another instance holds the lock but could not be reached (error())
  };

  // How long a launch keeps trying to reach an instance that is starting or ending.
  static constexpr std::chrono::milliseconds reachTimeout{5000};

  // "<runtime directory>/<application id>.socket"; the lock is the same path + ".lock".
  static QString defaultSocketPath();
  // The launch's own request: its arguments (paths, or file: URLs) as local files against the
  // working directory, its search text, and the activation token from the environment.
  static Request launchRequest(const QStringList& arguments, const QString& query = {});

  explicit SingleInstance(QString socketPath = defaultSocketPath(), QObject* parent = nullptr);
  // Stops listening (removing the socket file) before the lock goes.
  ~SingleInstance() override;

  Role claim(const Request& request);
  QString error() const { return error_; }
  QString socketPath() const { return socketPath_; }

 signals:
  // A later launch's request, on the first instance.
  void requested(const QList<QUrl>& files, const QString& query, const QString& activationToken);

 private:
  bool tryLock();
  void listen();
  bool handOver(const Request& request);
  void accept();

  QString socketPath_;
  int lockFile_ = -1;
  QLocalServer server_;
  QString error_;
};

}  // namespace quillmere
