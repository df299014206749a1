// SPDX-License-Identifier: GPL-3.0-or-later
// The catalogue of the application's texts, compiled into its resources.
#pragma once

#include <QLocale>

class QCoreApplication;

namespace quillmere {

// Installs the catalogue for LOCALE's language, else the English one: English too needs
// its catalogue, for the singular and plural of texts with a count.
void installTranslations(QCoreApplication& app, const QLocale& locale = QLocale());

}  // namespace quillmere
