// SPDX-License-Identifier: GPL-3.0-or-later
// A file manager that answers org.freedesktop.FileManager1.ShowItems on a session bus of
// the test's own, on a connection apart from the application's, and remembers what it was
// asked to show.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QtDBus/QDBusConnection>

namespace quillmere::test {

class FileManagerStandIn : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

 public:
  // Registers the service and its object; false when the bus refused either.
  bool start();
  // Leaves the bus, so that nobody answers the service any more.
  void stop();

  QStringList shown;  // every URI it was asked to show, in order

 public slots:
  void ShowItems(const QStringList& uris, const QString& startupId);

 private:
  static constexpr const char* connectionName = "quillmere-file-manager-stand-in";
};

}  // namespace quillmere::test
