// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileManagerStandIn.h"

namespace quillmere::test {

bool FileManagerStandIn::start() {
  auto bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName);
  return bus.isConnected() && bus.registerService("org.freedesktop.FileManager1") &&
         bus.registerObject("/org/freedesktop/FileManager1", this, QDBusConnection::ExportAllSlots);
}

void FileManagerStandIn::stop() {
  QDBusConnection::disconnectFromBus(connectionName);
}

void FileManagerStandIn::ShowItems(const QStringList& uris, const QString&) {
  shown += uris;
}

}  // namespace quillmere::test
