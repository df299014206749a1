#include "Snapshots.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QQmlComponent>
#include <QQuickWindow>
#include <QThread>
#include <algorithm>
#include <cstdio>

#include "ResultListModel.h"

namespace quillmere {

namespace {

namespace fs = std::filesystem;

QString qs(const fs::path& path) {
  return QString::fromStdString(path.string());
}

// Lets the event loop run until done() holds or the time is up.
bool waitUntil(const std::function<bool()>& done, int milliseconds) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > milliseconds) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

void settle(int milliseconds) {
  waitUntil([] { return false; }, milliseconds);
}

bool runTool(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  const bool ran = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
                   process.exitCode() == 0;
  if (!ran) std::fprintf(stderr, "snapshots: %s failed\n", qPrintable(program));
  return ran;
}

QPalette darkPalette() {
  QPalette dark;
  dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2d));
  dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
  dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x20));
  dark.setColor(QPalette::AlternateBase, QColor(0x33, 0x33, 0x36));
  dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
  dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3d));
  dark.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
  dark.setColor(QPalette::PlaceholderText, QColor(0x9a, 0x9a, 0xa0));
  dark.setColor(QPalette::Highlight, QColor(0x3d, 0x8b, 0xf2));
  dark.setColor(QPalette::HighlightedText, Qt::white);
  dark.setColor(QPalette::ToolTipBase, QColor(0x3a, 0x3a, 0x3d));
  dark.setColor(QPalette::ToolTipText, QColor(0xee, 0xee, 0xee));
  dark.setColor(QPalette::Light, QColor(0x4a, 0x4a, 0x4e));
  dark.setColor(QPalette::Midlight, QColor(0x40, 0x40, 0x44));
  dark.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x33));
  dark.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x1a));
  dark.setColor(QPalette::Shadow, Qt::black);
  dark.setColor(QPalette::BrightText, Qt::white);
  dark.setColor(QPalette::Link, QColor(0x6a, 0xa8, 0xff));
  return dark;
}

// Gives the window (and so every control in it) the palette's colours.
void applyPalette(QQuickWindow& window, const QPalette& palette) {
  auto* target = window.property("palette").value<QObject*>();
  if (!target) return;
  const std::pair<const char*, QPalette::ColorRole> roles[] = {
      {"window", QPalette::Window},
      {"windowText", QPalette::WindowText},
      {"base", QPalette::Base},
      {"alternateBase", QPalette::AlternateBase},
      {"text", QPalette::Text},
      {"button", QPalette::Button},
      {"buttonText", QPalette::ButtonText},
      {"placeholderText", QPalette::PlaceholderText},
      {"highlight", QPalette::Highlight},
      {"highlightedText", QPalette::HighlightedText},
      {"toolTipBase", QPalette::ToolTipBase},
      {"toolTipText", QPalette::ToolTipText},
      {"light", QPalette::Light},
      {"midlight", QPalette::Midlight},
      {"mid", QPalette::Mid},
      {"dark", QPalette::Dark},
      {"shadow", QPalette::Shadow},
      {"brightText", QPalette::BrightText},
      {"link", QPalette::Link}};
  for (const auto& [name, role] : roles) target->setProperty(name, palette.color(role));
}

// Types a query and waits for its answer.
void search(AppModel& model, const QString& query) {
  bool applied = false;
  const auto connection =
      QObject::connect(&model, &AppModel::searchApplied, [&applied] { applied = true; });
  model.setQuery(query);
  waitUntil([&applied] { return applied; }, 30000);
  QObject::disconnect(connection);
}

std::optional<std::int64_t> firstResult(AppModel& model, MediaKind kind) {
  for (const auto& result : model.results()->results()) {
    if (result.file.kind == kind) return result.frameID;
  }
  return std::nullopt;
}

}  // namespace

// The sample: photos and clips in one folder, a folder on a drive that is gone by the time
// the windows are drawn, and an empty folder.
struct Snapshots::Sample {
  fs::path media;
  fs::path holiday;
  fs::path empty;
  fs::path library;
  fs::path firstPhoto;
  std::int64_t emptyRoot = 0;
};

Snapshots::Snapshots(QString directory)
    : directory_(std::move(directory)), sample_(std::make_unique<Sample>()) {}

Snapshots::~Snapshots() = default;

QStringList Snapshots::stateNames() {
  return {"main-cant-start",  "main-first-run",      "main-getting-ready", "main-ready",
          "main-results",     "main-video-selected", "main-peek",          "main-notice",
          "main-image-query", "main-nothing-matches"};
}

int Snapshots::run() {
  if (!temp_.isValid() || !QDir().mkpath(directory_)) return 1;
  makeSample();
  indexSample();
  mainWindow();
  return failures_ == 0 ? 0 : 1;
}

void Snapshots::makeSample() {
  const fs::path root = temp_.path().toStdString();
  sample_->media = root / "Media";
  sample_->holiday = root / "Holiday";
  sample_->empty = root / "Empty";
  sample_->library = root / "Library.sqlite";
  fs::create_directories(sample_->media / "Videos");
  fs::create_directories(sample_->holiday);
  fs::create_directories(sample_->empty);
  QStringList wallpapers = QDir("/usr/share/backgrounds/mate/nature").entryList({"*.jpg"});
  wallpapers.sort();
  for (int i = 0; i < wallpapers.size() && i < 7; ++i) {
    const auto source = "/usr/share/backgrounds/mate/nature/" + wallpapers[i];
    const auto folder = i == 6 ? sample_->holiday : sample_->media;
    const auto out = qs(folder / wallpapers[i].toStdString());
    runTool("vips", {"thumbnail", source, out + "[Q=90]", "640"});
    if (i == 0) sample_->firstPhoto = out.toStdString();
  }
  // Clips of flat noisy scenes with a cut, as the command line's sample has.
  auto clip = [this](const char* name, const char* first, const char* second) {
    const QString filter = "[0][1]concat=n=2:v=1,noise=alls=30:allf=t";
    runTool("ffmpeg",
            {"-loglevel", "error", "-y", "-f", "lavfi", "-i",
             QString("color=c=%1:s=320x180:r=10:d=4").arg(first), "-f", "lavfi", "-i",
             QString("color=c=%1:s=320x180:r=10:d=5").arg(second), "-filter_complex", filter,
             "-c:v", "libx264", "-pix_fmt", "yuv420p", qs(sample_->media / "Videos" / name)});
  };
  clip("grey-then-red.mp4", "0x707070", "0xcc1a1a");
  clip("green-then-blue.mp4", "0x338c33", "0x2659cc");
}

AppModel::Setup Snapshots::setup(const fs::path& library) const {
  AppModel::Setup setup;
  setup.libraryURL = library;
  return setup;
}

std::unique_ptr<AppModel> Snapshots::openModel(const fs::path& library) const {
  auto model = std::make_unique<AppModel>(setup(library));
  // Start-up resolves the folders and counts the library on the event loop.
  settle(300);
  return model;
}

void Snapshots::indexSample() {
  auto model = openModel(sample_->library);
  for (const auto& folder : {sample_->media, sample_->holiday, sample_->empty}) {
    const auto added = model->addFolder(folder);
    if (folder == sample_->empty && added.root) sample_->emptyRoot = added.root->id;
  }
  const bool indexed = waitUntil(
      [&model] {
        return model->totalFiles() > 0 && model->totalPending() == 0 &&
               model->progress().phase.kind == Indexer::Phase::Kind::idle;
      },
      120000);
  if (!indexed) std::fprintf(stderr, "snapshots: the sample was not indexed in time\n");
  model.reset();
  // The holiday photos' drive is unplugged.
  fs::rename(sample_->holiday, sample_->holiday.parent_path() / "Holiday (unplugged)");
}

QQuickWindow* Snapshots::makeWindow(const QString& file, AppModel& model) {
  QQmlComponent component(&engine_, QUrl("qrc:/Quillmere/qml/" + file));
  if (!component.isReady()) {
    std::fprintf(stderr, "snapshots: %s: %s\n", qPrintable(file),
                 qPrintable(component.errorString()));
    return nullptr;
  }
  auto* made = component.createWithInitialProperties({{"app", QVariant::fromValue(&model)}});
  auto* window = qobject_cast<QQuickWindow*>(made);
  if (!window) {
    std::fprintf(stderr, "snapshots: %s: %s\n", qPrintable(file),
                 qPrintable(component.errorString()));
    delete made;
    return nullptr;
  }
  window->resize(width, height);
  window->show();
  return window;
}

bool Snapshots::save(QQuickWindow& window, const QString& name) {
  const QString file = QDir(directory_).filePath(name + (dark_ ? "-dark" : "") + ".png");
  const bool saved = window.grabWindow().save(file);
  if (!saved) std::fprintf(stderr, "snapshots: could not write %s\n", qPrintable(file));
  return saved;
}

void Snapshots::shootMain(AppModel& model, const QString& name,
                          const std::function<void(QQuickWindow&)>& prepare) {
  for (const bool dark : {false, true}) {
    dark_ = dark;
    std::unique_ptr<QQuickWindow> window(makeWindow("Main.qml", model));
    if (!window) {
      ++failures_;
      continue;
    }
    if (dark) applyPalette(*window, darkPalette());
    settle(400);
    if (prepare) prepare(*window);
    // Pictures load off the GUI thread.
    settle(900);
    if (!save(*window, name)) ++failures_;
  }
  dark_ = false;
}

void Snapshots::mainWindow() {
  const fs::path root = temp_.path().toStdString();
  {
    // No model where the application looks for it.
    auto setup = this->setup(root / "Broken.sqlite");
    setup.modelDirectory = root / "No Model";
    AppModel model(setup);
    shootMain(model, "main-cant-start");
  }
  {
    auto model = openModel(root / "Empty.sqlite");
    shootMain(*model, "main-first-run");
  }
  {
    // A folder whose files are not indexed yet: nothing to find so far.
    auto model = openModel(root / "New.sqlite");
    model->addFolder(sample_->empty);
    settle(300);
    search(*model, "red car at night");
    shootMain(*model, "main-getting-ready");
  }
  auto model = openModel(sample_->library);
  shootMain(*model, "main-ready");
  search(*model, "red");
  shootMain(*model, "main-results");
  if (const auto video = firstResult(*model, MediaKind::video)) {
    bool refined = false;
    const auto connection =
        QObject::connect(model.get(), &AppModel::exactTimesChanged, [&refined] { refined = true; });
    model->select(*video);
    waitUntil([&refined] { return refined; }, 10000);
    QObject::disconnect(connection);
  }
  shootMain(*model, "main-video-selected");
  // A photo, whose picture the peek shows at once.
  if (const auto photo = firstResult(*model, MediaKind::photo)) model->select(*photo);
  shootMain(*model, "main-peek",
            [](QQuickWindow& window) { QMetaObject::invokeMethod(&window, "togglePeek"); });
  model->setNotice("Connect the drive to open LadyBird.jpg.");
  shootMain(*model, "main-notice");
  model->setNotice("");
  {
    bool applied = false;
    const auto connection =
        QObject::connect(model.get(), &AppModel::searchApplied, [&applied] { applied = true; });
    model->searchByImage(qs(sample_->firstPhoto));
    waitUntil([&applied] { return applied; }, 30000);
    QObject::disconnect(connection);
  }
  shootMain(*model, "main-image-query");
  model->clearImageQuery();
  model->setFolderFilter(sample_->emptyRoot);
  search(*model, "a lighthouse by the sea");
  shootMain(*model, "main-nothing-matches");
}

}  // namespace quillmere
