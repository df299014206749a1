// SPDX-License-Identifier: GPL-3.0-or-later
// A desktop portal whose file chooser answers OpenFile at once with the folders it was given,
// on a session bus of the test's own, on a connection apart from the application's. It
// remembers the options it was asked with.
#pragma once

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace quillmere::test {

class PortalStandIn : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.FileChooser")

 public:
  // Registers the service and its object; false when the bus refused either.
  bool start();
  void stop();

  QStringList answer;   // the URIs the user "picks"
  QVariantMap options;  // of the last call
  bool answers = true;  // false: shows nothing and never sends the Response

 public slots:
  QDBusObjectPath OpenFile(const QString& parentWindow, const QString& title,
                           const QVariantMap& options, const QDBusMessage& message);

 private:
  static constexpr const char* connectionName = "quillmere-portal-stand-in";
};

}  // namespace quillmere::test
