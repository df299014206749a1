// SPDX-License-Identifier: GPL-3.0-or-later
// quillmere: the desktop application. One instance per user: a later `quillmere [PATH]` or
// `quillmere --search TEXT` hands its paths and text to the running one and exits. Makes the
// one AppModel, shows the main window, and where the desktop has a tray, stays there with its
// indexing when the window closes.
// "--snapshot-windows DIR" instead renders every window state of a sample library to PNG
// files in DIR, then quits.
#include <QtQml/qqmlextensionplugin.h>
#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QUrl>
#include <QWindow>
#include <cstdio>
#include <memory>

#include "AppModel.h"
#include "PlayerWindowsSingleton.h"
#include "SingleInstance.h"
#include "Snapshots.h"
#include "SystemTrayIcon.h"
#include "Translations.h"
#include "Tray.h"

// The views are a static QML module linked into the executable.
Q_IMPORT_QML_PLUGIN(QuillmerePlugin)

namespace {

using quillmere::SingleInstance;

// The installed icon by its name, else the copy built in.
QIcon applicationIcon() {
  return QIcon::fromTheme(QStringLiteral(QUILLMERE_APPLICATION_ID),
                          QIcon(QStringLiteral(":/icons/" QUILLMERE_APPLICATION_ID ".svg")));
}

// Raises the main window; the launcher's token lets a Wayland compositor give it the focus.
void showWindow(const QQmlApplicationEngine& engine, const QString& activationToken) {
  if (engine.rootObjects().isEmpty()) return;
  auto* window = qobject_cast<QWindow*>(engine.rootObjects().constFirst());
  if (!window) return;
  if (!activationToken.isEmpty()) qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
  if (window->visibility() == QWindow::Minimized || !window->isVisible()) window->show();
  window->raise();
  window->requestActivate();
}

}  // namespace

int main(int argc, char* argv[]) {
  // --help and --version are answered before the GUI application is made: they work where
  // there is no display.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  QCommandLineParser parser;
  const QCommandLineOption help({"h", "help"}, "Show this help.");
  const QCommandLineOption version("version", "Show the version.");
  const QCommandLineOption snapshot("snapshot-windows",
                                    "Render every window state of a sample library to DIR.", "DIR");
  const QCommandLineOption search("search", "Search for TEXT, as if typed in the search field.",
                                  "TEXT");
  parser.setApplicationDescription("Quillmere finds moments in your own photos and videos.");
  parser.addOptions({help, version, snapshot, search});
  parser.addPositionalArgument("path", "A folder to add, or a photo or video to search by.",
                               "[PATH...]");
  // Qt's own options (-platform, -style) are known only to the application object: a wrong
  // option is reported by the full parse below, once that exists.
  parser.parse(arguments);
  if (parser.isSet(help)) {
    // Without an application object the parser cannot name the program itself.
    std::fputs(qPrintable(parser.helpText().replace("<executable_name>", "quillmere")), stdout);
    return 0;
  }
  if (parser.isSet(version)) {
    std::fputs("quillmere " QUILLMERE_VERSION "\n", stdout);
    return 0;
  }

  // QApplication rather than QGuiApplication: the tray icon is a widget.
  QApplication app(argc, argv);
  QGuiApplication::setApplicationName("Quillmere");
  QGuiApplication::setApplicationVersion(QUILLMERE_VERSION);
  QGuiApplication::setOrganizationDomain("quillmere.org");
  QGuiApplication::setDesktopFileName(QUILLMERE_APPLICATION_ID);
  QGuiApplication::setWindowIcon(applicationIcon());
  quillmere::installTranslations(app);
  // A desktop style that follows the palette, unless the user chose another.
  if (qEnvironmentVariableIsEmpty("QT_QUICK_CONTROLS_STYLE")) QQuickStyle::setStyle("Fusion");
  parser.process(app);
  if (parser.isSet(snapshot)) return quillmere::Snapshots(parser.value(snapshot)).run();

  SingleInstance instance;
  const auto request =
      SingleInstance::launchRequest(parser.positionalArguments(), parser.value(search));
  switch (instance.claim(request)) {
    case SingleInstance::Role::handedOver:
      return 0;
    case SingleInstance::Role::failed:
      qCritical("%s", qPrintable(instance.error()));
      return 1;
    case SingleInstance::Role::first:
      if (!instance.error().isEmpty()) qWarning("%s", qPrintable(instance.error()));
      break;
  }

  quillmere::AppModel model;
  QQmlApplicationEngine engine;
  // Videos opened through Actions get their player windows from this engine, even before any
  // view has touched the PlayerWindows singleton.
  quillmere::PlayerWindowsSingleton::install(engine);
  engine.setInitialProperties({{"app", QVariant::fromValue(&model)}});
  QObject::connect(
      &engine, &QQmlApplicationEngine::objectCreationFailed, &app,
      [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
  engine.load(QUrl("qrc:/Quillmere/qml/Main.qml"));
  // A folder named at launch is added to the library; a photo or video becomes the query, and
  // so does a text.
  model.open(request.files, request.query);
  QObject::connect(&instance, &SingleInstance::requested, &model,
                   [&](const QList<QUrl>& files, const QString& query, const QString& token) {
                     model.open(files, query);
                     showWindow(engine, token);
                   });

  // With a tray the application outlives its windows, and its indexing goes on; without one
  // the last window's closing quits, and the model stops the indexer cleanly as it goes.
  std::unique_ptr<quillmere::SystemTrayIcon> trayIcon;
  std::unique_ptr<quillmere::Tray> tray;
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    trayIcon = std::make_unique<quillmere::SystemTrayIcon>(applicationIcon());
    tray = std::make_unique<quillmere::Tray>(*model.indexing(), *model.folders(), *trayIcon);
    QObject::connect(tray.get(), &quillmere::Tray::showRequested, &engine,
                     [&engine] { showWindow(engine, {}); });
    QObject::connect(tray.get(), &quillmere::Tray::quitRequested, &app, &QCoreApplication::quit);
    QGuiApplication::setQuitOnLastWindowClosed(false);
    trayIcon->show();
  }
  return QApplication::exec();
}
