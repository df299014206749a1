// SPDX-License-Identifier: GPL-3.0-or-later
// The suite runs inside a QGuiApplication on the offscreen platform (unless the caller
// chose one), so that the model's timers and queued calls run as in the application.
#include <gtest/gtest.h>

#include <QtQml/qqmlextensionplugin.h>
#include <QGuiApplication>
#include <QThreadPool>

#include "Translations.h"

// The views' tests load the application's static QML module.
Q_IMPORT_QML_PLUGIN(QuillmerePlugin)

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  // The texts the tests expect are the English ones, whatever the machine's language.
  quillmere::installTranslations(app, QLocale(QLocale::English));
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  // Joins the pool's idle threads now, so that none is still exiting when the leak check
  // stops the process's threads.
  QThreadPool::globalInstance()->waitForDone();
  return result;
}
