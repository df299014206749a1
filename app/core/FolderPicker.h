// SPDX-License-Identifier: GPL-3.0-or-later
// Lets the user pick several folders at once through the desktop's file chooser portal
// (org.freedesktop.portal.FileChooser, which GNOME's and KDE's dialogs serve), since Qt's
// own folder dialog takes one folder only. Where no portal answers, it says so and the view
// opens Qt's dialog instead, also when the portal leaves the bus without answering.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariantMap>

class QWindow;

namespace quillmere {

class FolderPicker : public QObject {
  Q_OBJECT

 public:
  explicit FolderPicker(QObject* parent = nullptr);

  // Opens the portal's chooser over window (may be null); the answer comes as chosen,
  // cancelled or unavailable. False, asking nothing, while an earlier pick is still open.
  Q_INVOKABLE bool choose(QWindow* window, const QString& title, const QString& acceptLabel);
  bool busy() const { return !request_.isEmpty(); }

  static constexpr const char* service = "org.freedesktop.portal.Desktop";
  static constexpr const char* path = "/org/freedesktop/portal/desktop";
  static constexpr const char* chooserInterface = "org.freedesktop.portal.FileChooser";
  static constexpr const char* requestInterface = "org.freedesktop.portal.Request";

 signals:
  void chosen(const QList<QUrl>& folders);  // in the order the user picked them
  void cancelled();
  void unavailable();  // no portal answered: nothing was shown

 private slots:
  void answered(uint response, const QVariantMap& results);

 private:
  // The request object the portal will answer on, known before the call so that the
  // answer cannot come before the subscription.
  QString requestPath(const QString& token) const;
  void follow(const QString& request);
  void finish();
  // Gives up the open request: Qt's dialog is to open instead.
  void abandon();

  QString request_;  // the request answered on, empty when none is open
  QString portal_;   // the unique bus name of the portal that took it
  int tokens_ = 0;
};

}  // namespace quillmere
