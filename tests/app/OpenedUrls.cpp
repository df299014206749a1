// SPDX-License-Identifier: GPL-3.0-or-later
#include "OpenedUrls.h"

#include <QDesktopServices>

namespace quillmere::test {

OpenedUrls::OpenedUrls(QStringList schemes) : schemes_(std::move(schemes)) {
  for (const auto& scheme : schemes_) QDesktopServices::setUrlHandler(scheme, this, "open");
}

OpenedUrls::~OpenedUrls() {
  for (const auto& scheme : schemes_) QDesktopServices::unsetUrlHandler(scheme);
}

void OpenedUrls::open(const QUrl& url) {
  opened.push_back(url);
}

}  // namespace quillmere::test
