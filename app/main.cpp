// quillmere: the desktop application. Makes the one AppModel and shows the main window.
// "--snapshot-windows DIR" (with an optional "--query TEXT") renders the window to
// DIR/main.png once the query's results are shown, then quits.
#include <QCommandLineParser>
#include <QDir>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTimer>
#include <QUrl>
#include <QtQml/qqmlextensionplugin.h>

#include "AppModel.h"

// The views are a static QML module linked into the executable.
Q_IMPORT_QML_PLUGIN(QuillmerePlugin)

namespace {

void snapshotWhenSearched(quillmere::AppModel& model, QQmlApplicationEngine& engine,
                          const QString& directory, const QString& query) {
  auto grab = [&engine, directory] {
    auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().value(0));
    const bool saved = window && QDir().mkpath(directory) &&
                       window->grabWindow().save(QDir(directory).filePath("main.png"));
    QCoreApplication::exit(saved ? 0 : 1);
  };
  // The results need a moment to be laid out after they arrive.
  QObject::connect(&model, &quillmere::AppModel::searchApplied, &model,
                   [grab] { QTimer::singleShot(500, grab); });
  QTimer::singleShot(30000, grab);
  QTimer::singleShot(300, &model, [&model, query, grab] {
    if (query.isEmpty()) {
      QTimer::singleShot(700, grab);
      return;
    }
    // Typed one character at a time, as a user would.
    for (qsizetype i = 1; i <= query.size(); ++i) model.setQuery(query.left(i));
  });
}

}  // namespace

int main(int argc, char* argv[]) {
  QGuiApplication app(argc, argv);
  QGuiApplication::setApplicationName("Quillmere");
  QGuiApplication::setOrganizationDomain("quillmere.org");

  QCommandLineParser parser;
  parser.addHelpOption();
  const QCommandLineOption snapshot("snapshot-windows", "Render the window to DIR and quit.",
                                    "DIR");
  const QCommandLineOption query("query", "The query typed before a snapshot.", "TEXT");
  parser.addOptions({snapshot, query});
  parser.process(app);

  quillmere::AppModel model;
  QQmlApplicationEngine engine;
  engine.setInitialProperties({{"app", QVariant::fromValue(&model)}});
  QObject::connect(
      &engine, &QQmlApplicationEngine::objectCreationFailed, &app,
      [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
  engine.load(QUrl("qrc:/Quillmere/qml/Main.qml"));
  if (parser.isSet(snapshot)) {
    snapshotWhenSearched(model, engine, parser.value(snapshot), parser.value(query));
  }
  return QGuiApplication::exec();
}
