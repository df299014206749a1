// quillmere: the desktop application. Makes the one AppModel and shows the main window.
// "--snapshot-windows DIR" instead renders every window state of a sample library to PNG
// files in DIR, then quits.
#include <QtQml/qqmlextensionplugin.h>
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QUrl>

#include "AppModel.h"
#include "PlayerWindowsSingleton.h"
#include "Snapshots.h"

// The views are a static QML module linked into the executable.
Q_IMPORT_QML_PLUGIN(QuillmerePlugin)

int main(int argc, char* argv[]) {
  QGuiApplication app(argc, argv);
  QGuiApplication::setApplicationName("Quillmere");
  QGuiApplication::setOrganizationDomain("quillmere.org");
  // A desktop style that follows the palette, unless the user chose another.
  if (qEnvironmentVariableIsEmpty("QT_QUICK_CONTROLS_STYLE")) QQuickStyle::setStyle("Fusion");

  QCommandLineParser parser;
  parser.addHelpOption();
  const QCommandLineOption snapshot("snapshot-windows",
                                    "Render every window state of a sample library to DIR.", "DIR");
  parser.addOption(snapshot);
  parser.process(app);
  if (parser.isSet(snapshot)) return quillmere::Snapshots(parser.value(snapshot)).run();

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
  return QGuiApplication::exec();
}
