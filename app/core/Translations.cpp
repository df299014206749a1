// SPDX-License-Identifier: GPL-3.0-or-later
#include "Translations.h"

#include <QCoreApplication>
#include <QTranslator>

namespace quillmere {

void installTranslations(QCoreApplication& app, const QLocale& locale) {
  auto* translator = new QTranslator(&app);
  if (translator->load(locale, "quillmere", "_", ":/i18n") ||
      translator->load("quillmere_en", ":/i18n")) {
    QCoreApplication::installTranslator(translator);
  } else {
    qWarning("The catalogue of the application's texts is missing from its resources.");
  }
}

}  // namespace quillmere
