// SPDX-License-Identifier: GPL-3.0-or-later
#include "FolderPicker.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

namespace quillmere {
namespace {

// How the portal names the window it is to sit over; on Wayland that needs a handle
// exported through xdg-foreign, which Qt does not offer, so the chooser is not attached.
QString parentWindow(QWindow* window) {
  if (!window || QGuiApplication::platformName() != QLatin1String("xcb")) return {};
  return QStringLiteral("x11:%1").arg(window->winId(), 0, 16);
}

}  // namespace

FolderPicker::FolderPicker(QObject* parent) : QObject(parent) {
  // A portal that leaves the bus, or is replaced, will never answer the open request.
  auto* owner = new QDBusServiceWatcher(service, QDBusConnection::sessionBus(),
                                        QDBusServiceWatcher::WatchForOwnerChange, this);
  connect(owner, &QDBusServiceWatcher::serviceOwnerChanged, this,
          [this](const QString&, const QString& previous) {
            if (!portal_.isEmpty() && previous == portal_) abandon();
          });
}

void FolderPicker::abandon() {
  if (!busy()) return;
  finish();
  emit unavailable();
}

bool FolderPicker::choose(QWindow* window, const QString& title, const QString& acceptLabel) {
  if (busy()) return false;
  auto bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    QTimer::singleShot(0, this, &FolderPicker::unavailable);
    return true;
  }
  const QString token = QStringLiteral("quillmere%1").arg(++tokens_);
  follow(requestPath(token));
  const QVariantMap options{{QStringLiteral("handle_token"), token},
                            {QStringLiteral("directory"), true},
                            {QStringLiteral("multiple"), true},
                            {QStringLiteral("modal"), true},
                            {QStringLiteral("accept_label"), acceptLabel}};
  auto call = QDBusMessage::createMethodCall(service, path, chooserInterface, "OpenFile");
  call << parentWindow(window) << title << options;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, asked = request_](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            if (request_ != asked) return;  // abandoned meanwhile
            QDBusPendingReply<QDBusObjectPath> reply = *finished;
            if (reply.isError()) {
              abandon();
              return;
            }
            portal_ = reply.reply().service();
            // Portals before version 0.9 choose their own request path.
            if (reply.value().path() != request_) follow(reply.value().path());
          });
  return true;
}

QString FolderPicker::requestPath(const QString& token) const {
  QString sender = QDBusConnection::sessionBus().baseService().mid(1);
  sender.replace(QLatin1Char('.'), QLatin1Char('_'));
  return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

void FolderPicker::follow(const QString& request) {
  auto bus = QDBusConnection::sessionBus();
  if (!request_.isEmpty()) {
    bus.disconnect(service, request_, requestInterface, "Response", this,
                   SLOT(answered(uint, QVariantMap)));
  }
  request_ = request;
  bus.connect(service, request_, requestInterface, "Response", this,
              SLOT(answered(uint, QVariantMap)));
}

void FolderPicker::finish() {
  QDBusConnection::sessionBus().disconnect(service, request_, requestInterface, "Response", this,
                                           SLOT(answered(uint, QVariantMap)));
  request_.clear();
  portal_.clear();
}

void FolderPicker::answered(uint response, const QVariantMap& results) {
  finish();
  if (response != 0) {
    emit cancelled();
    return;
  }
  QList<QUrl> folders;
  for (const QString& uri : results.value(QStringLiteral("uris")).toStringList()) {
    folders << QUrl(uri);
  }
  emit chosen(folders);
}

}  // namespace quillmere
