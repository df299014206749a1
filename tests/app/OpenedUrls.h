// SPDX-License-Identifier: GPL-3.0-or-later
// Takes the place of the desktop's URL handlers for some schemes while it lives (Qt's own
// QDesktopServices::setUrlHandler), so that a test sees what would have been opened
// without starting an application.
#pragma once

#include <QObject>
#include <QStringList>
#include <QUrl>
#include <vector>

namespace quillmere::test {

class OpenedUrls : public QObject {
  Q_OBJECT

 public:
  explicit OpenedUrls(QStringList schemes = {"file", "https"});
  ~OpenedUrls() override;

  std::vector<QUrl> opened;

 public slots:
  void open(const QUrl& url);

 private:
  QStringList schemes_;
};

}  // namespace quillmere::test
