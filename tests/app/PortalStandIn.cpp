// SPDX-License-Identifier: GPL-3.0-or-later
#include "PortalStandIn.h"

#include <QDBusConnection>
#include <QTimer>

namespace quillmere::test {

bool PortalStandIn::start() {
  auto bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName);
  return bus.isConnected() && bus.registerService("org.freedesktop.portal.Desktop") &&
         bus.registerObject("/org/freedesktop/portal/desktop", this,
                            QDBusConnection::ExportAllSlots);
}

void PortalStandIn::stop() {
  QDBusConnection::disconnectFromBus(connectionName);
}

QDBusObjectPath PortalStandIn::OpenFile(const QString&, const QString&, const QVariantMap& asked,
                                        const QDBusMessage& message) {
  options = asked;
  // The request object is named after the caller and its token, as real portals name it.
  QString sender = message.service().mid(1);
  sender.replace('.', '_');
  const QString request = "/org/freedesktop/portal/desktop/request/" + sender + "/" +
                          asked.value("handle_token").toString();
  if (!answers) return QDBusObjectPath(request);
  // The answer follows the call's reply.
  QTimer::singleShot(0, this, [this, request] {
    auto response =
        QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response");
    response << 0u << QVariantMap{{"uris", answer}};
    QDBusConnection(connectionName).send(response);
  });
  return QDBusObjectPath(request);
}

}  // namespace quillmere::test
