// SPDX-License-Identifier: GPL-3.0-or-later
// SingleInstance: the lock, the local socket, and handing a launch to the running one.
#include "SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QByteArray>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QUrl>
#include <memory>
#include <optional>
#include <thread>

namespace quillmere {
namespace {

// The first word of every request, so that a stray writer is not taken for a launch.
constexpr quint32 requestMagic = 0x51524551;  // "QREQ"
constexpr int connectWait = 500;              // milliseconds
constexpr std::chrono::milliseconds retryPause{50};
// A launch hands over a few paths and a text; a writer sending more is not a launch.
constexpr qsizetype maxRequestBytes = 4 << 20;

enum class Parsed { complete, incomplete, invalid };

// The files are read one by one: Qt's list reader reserves whatever count it is sent (2^32
// URLs are 32 GB) before reading any of them.
Parsed parseRequest(const QByteArray& bytes, SingleInstance::Request& request) {
  QDataStream in(bytes);
  in.setVersion(QDataStream::Qt_6_4);
  quint32 magic = 0;
  quint32 count = 0;
  in >> magic >> count;
  if (in.status() != QDataStream::Ok) return Parsed::incomplete;
  if (magic != requestMagic || count > maxRequestBytes / sizeof(quint32)) return Parsed::invalid;
  for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
    QUrl file;
    in >> file;
    request.files.push_back(file);
  }
  in >> request.activationToken >> request.query;
  if (in.status() == QDataStream::ReadPastEnd) return Parsed::incomplete;
  return in.status() == QDataStream::Ok ? Parsed::complete : Parsed::invalid;
}

QUrl localFile(const QString& argument) {
  // "Open With" may hand a file: URL rather than a path.
  if (argument.startsWith(QLatin1String("file:"))) return QUrl(argument);
  return QUrl::fromLocalFile(QFileInfo(argument).absoluteFilePath());
}

}  // namespace

QString SingleInstance::defaultSocketPath() {
  return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + "/" +
         QUILLMERE_APPLICATION_ID + ".socket";
}

SingleInstance::Request SingleInstance::launchRequest(const QStringList& arguments,
                                                      const QString& query) {
  Request request;
  request.query = query;
  for (const auto& argument : arguments) request.files.push_back(localFile(argument));
  request.activationToken = qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
  if (request.activationToken.isEmpty()) {
    request.activationToken = qEnvironmentVariable("DESKTOP_STARTUP_ID");
  }
  return request;
}

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), socketPath_(std::move(socketPath)) {
  connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::accept);
}

SingleInstance::~SingleInstance() {
  server_.close();
  if (lockFile_ >= 0) ::close(lockFile_);
}

SingleInstance::Role SingleInstance::claim(const Request& request) {
  // Another launch may be starting or ending at this moment: keep trying both ways until one
  // of them holds.
  const auto deadline = std::chrono::steady_clock::now() + reachTimeout;
  for (;;) {
    if (tryLock()) {
      listen();
      return Role::first;
    }
    if (handOver(request)) return Role::handedOver;
    if (std::chrono::steady_clock::now() > deadline) {
      error_ = "Another Quillmere is running but does not answer at " + socketPath_;
      return Role::failed;
    }
    std::this_thread::sleep_for(retryPause);
  }
}

bool SingleInstance::tryLock() {
  if (lockFile_ < 0) {
    const QByteArray path = QFile::encodeName(socketPath_ + ".lock");
    lockFile_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFile_ < 0) {
      // Without a lock there is no telling who is first: run as a lone instance.
      error_ = "Cannot create " + socketPath_ + ".lock";
      return true;
    }
  }
  return ::flock(lockFile_, LOCK_EX | LOCK_NB) == 0;
}

void SingleInstance::listen() {
  if (lockFile_ < 0) return;
  // Holding the lock, any socket file here was left by an instance that is gone.
  QLocalServer::removeServer(socketPath_);
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_.listen(socketPath_)) error_ = server_.errorString();
}

bool SingleInstance::handOver(const Request& request) {
  QLocalSocket socket;
  socket.connectToServer(socketPath_);
  if (!socket.waitForConnected(connectWait)) return false;
  QByteArray bytes;
  QDataStream out(&bytes, QIODevice::WriteOnly);
  out.setVersion(QDataStream::Qt_6_4);
  // The text goes last: an older instance reads what it knows and leaves the rest.
  out << requestMagic << request.files << request.activationToken << request.query;
  socket.write(bytes);
  while (socket.bytesToWrite() > 0) {
    if (!socket.waitForBytesWritten(connectWait)) return false;
  }
  // What was written stays readable on the instance's side after this end closes.
  socket.disconnectFromServer();
  return true;
}

void SingleInstance::accept() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    // Empty once the request is answered or dropped.
    auto received = std::make_shared<std::optional<QByteArray>>(QByteArray());
    const auto read = [this, socket, received] {
      if (!*received) return;
      QByteArray& bytes = **received;
      bytes += socket->read(maxRequestBytes + 1 - bytes.size());
      Request request;
      const Parsed parsed =
          bytes.size() > maxRequestBytes ? Parsed::invalid : parseRequest(bytes, request);
      if (parsed == Parsed::incomplete) return;  // the rest is still on its way
      received->reset();
      if (parsed == Parsed::invalid) {
        socket->abort();
        return;
      }
      socket->disconnectFromServer();
      emit requested(request.files, request.query, request.activationToken);
    };
    connect(socket, &QLocalSocket::readyRead, this, read);
    connect(socket, &QLocalSocket::disconnected, this, [socket, read] {
      read();
      socket->deleteLater();
    });
    read();
  }
}

}  // namespace quillmere
