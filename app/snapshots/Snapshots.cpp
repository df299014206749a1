// SPDX-License-Identifier: GPL-3.0-or-later
// Snapshots: the sample library, each window's states, and writing the pictures.
#include "Snapshots.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QQmlComponent>
#include <QQuickWindow>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <future>
#include <optional>

#include "Actions.h"
#include "FolderListModel.h"
#include "FolderModel.h"
#include "IndexingStatus.h"
#include "ModelDownloads.h"
#include "ResultListModel.h"
#include "SerialQueue.h"
#include "index/SQLite.h"
#include "platform/PowerMonitor.h"
#include "platform/ResourceLocator.h"
#include "scan/Scanner.h"

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
    // Snapshots run before the event loop starts, where deleteLater() would wait forever:
    // a delegate a model reset let go goes now, while its window can still free its pictures.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QThread::msleep(5);
  }
  return true;
}

// How long a state with no new picture to load needs to be drawn.
constexpr int textOnly = 250;
// No settling at all: a passing state, caught before the event loop can move it on.
constexpr int atOnce = -1;

void settle(int milliseconds) {
  waitUntil([] { return false; }, milliseconds);
}

void writeFile(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text;
}

QObject* child(QQuickWindow& window, const char* property) {
  return window.property(property).value<QObject*>();
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
// Makes the change and waits until the search it starts is applied.
void searchAfter(AppModel& model, const std::function<void()>& change) {
  bool applied = false;
  const auto connection =
      QObject::connect(model.search(), &SearchModel::searchApplied, [&applied] { applied = true; });
  change();
  waitUntil([&applied] { return applied; }, 30000);
  QObject::disconnect(connection);
}

void search(AppModel& model, const QString& query) {
  searchAfter(model, [&] { model.search()->setQuery(query); });
}

// The first result of the kind other than the selected one, so that selecting it shows a
// picture of its own.
std::optional<std::int64_t> firstOther(AppModel& model, MediaKind kind) {
  for (const auto& result : model.search()->results()->results()) {
    if (result.file.kind == kind && result.frameID != model.search()->selection())
      return result.frameID;
  }
  return std::nullopt;
}

// A photo of a station sign, for the text read in pictures: painted here, as the installed
// samples hold no words.
void paintSign(const fs::path& file) {
  QImage picture(1200, 800, QImage::Format_RGB32);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, 800);
  sky.setColorAt(0, QColor(0x8f, 0xb8, 0xde));
  sky.setColorAt(1, QColor(0x4a, 0x5d, 0x6e));
  painter.fillRect(picture.rect(), sky);
  painter.fillRect(QRect(0, 620, 1200, 180), QColor(0x3a, 0x3a, 0x3c));
  painter.fillRect(QRect(590, 470, 20, 150), QColor(0x22, 0x22, 0x24));
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x0b, 0x3d, 0x91));
  painter.drawRoundedRect(QRect(200, 150, 800, 320), 24, 24);
  painter.setPen(Qt::white);
  QFont font("DejaVu Sans");
  font.setBold(true);
  font.setPixelSize(96);
  painter.setFont(font);
  painter.drawText(QRect(200, 180, 800, 130), Qt::AlignCenter, "PLATFORM 7");
  font.setPixelSize(64);
  painter.setFont(font);
  painter.drawText(QRect(200, 320, 800, 110), Qt::AlignCenter, "DEPARTURES");
  painter.end();
  picture.save(QString::fromStdString(file.string()), "JPG", 92);
}

// A copy of the library as the first schema kept it: each thumbnail in its frame's row.
void makeOlder(const fs::path& library, const fs::path& older) {
  for (const char* suffix : {"", "-wal"}) {
    const fs::path from = library.string() + suffix;
    if (fs::exists(from)) fs::copy_file(from, older.string() + suffix);
  }
  SQLite db(older.string());
  db.exec(
      "ALTER TABLE frames ADD COLUMN thumb BLOB;"
      "UPDATE frames SET thumb=(SELECT jpeg FROM thumbs WHERE frame_id=frames.id);"
      "DROP TABLE thumbs; UPDATE meta SET value='1' WHERE key='schema';");
}

}  // namespace

// The sample: photos and clips in one folder, a folder on a drive that is gone
// by the time the windows are drawn, and an empty folder.
struct Snapshots::Sample {
  fs::path media;
  fs::path holiday;
  fs::path empty;
  fs::path library;
  fs::path firstPhoto;
  // Clips, a photo and a file that is no picture, indexed while the sidebar is
  // drawn.
  fs::path busy;
  std::int64_t emptyRoot = 0;
};

Snapshots::Snapshots(QString directory)
    : directory_(std::move(directory)), sample_(std::make_unique<Sample>()) {}

Snapshots::~Snapshots() = default;

QStringList Snapshots::stateNames() {
  return {"main-cant-start",
          "main-updating-library",
          "main-first-run",
          "main-first-run-targeted",
          "main-getting-ready",
          "main-ready",
          "main-results",
          "main-video-selected",
          "main-video-playing",
          "main-peek",
          "main-notice",
          "main-image-query",
          "main-image-and-words",
          "main-date-filter",
          "main-custom-range",
          "main-region-query",
          "preview-region",
          "main-nothing-matches",
          "main-found-by-text",
          "sidebar-paused-power-saver",
          "sidebar-paused-hot",
          "sidebar-paused-user",
          "sidebar-indexing",
          "sidebar-failed-files",
          "duplicates-working",
          "duplicates-groups",
          "duplicates-none",
          "settings-folders",
          "settings-folders-after-removal",
          "settings-privacy",
          "settings-model",
          "settings-model-downloading",
          "settings-text",
          "settings-text-no-model",
          "player-window"};
}

int Snapshots::run() {
  if (!temp_.isValid() || !QDir().mkpath(directory_)) return 1;
  // A failure returns rather than ends the process, so that the sample's folder is removed.
  try {
    return shootAll();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "snapshots: %s\n", error.what());
    return 1;
  }
}

int Snapshots::shootAll() {
  QElapsedTimer clock;
  clock.start();
  if (!makeSample()) return 1;
  indexSample();
  mainWindow();
  const auto busy = sidebar();
  const auto model = openModel(sample_->library);
  duplicatesWindow(*model, *busy);
  settingsWindow(*model);
  playerWindow();
  std::fprintf(stderr, "snapshots: %lld pictures in %.1f s\n",
               static_cast<long long>(stateNames().size()) * 2, clock.elapsed() / 1000.0);
  return failures_ == 0 ? 0 : 1;
}

bool Snapshots::makeSample() {
  const fs::path root = temp_.path().toStdString();
  sample_->media = root / "Media";
  sample_->holiday = root / "Holiday";
  sample_->empty = root / "Empty";
  sample_->library = root / "Library.sqlite";
  sample_->busy = root / "Busy";
  machine_ = root / "Machine";
  fs::create_directories(machine_);
  fs::create_directories(sample_->busy);
  fs::create_directories(sample_->media / "Videos");
  fs::create_directories(sample_->holiday);
  fs::create_directories(sample_->empty);
  // The sample media installed with the program: painted photos and two clips with a cut.
  const auto resources = ResourceLocator::resourcesDirectory();
  const fs::path samples = resources ? *resources / "Samples" : fs::path();
  QStringList photos = QDir(qs(samples)).entryList({"Photo ?.jpg"}, QDir::Files, QDir::Name);
  if (photos.size() < 7 || !fs::is_regular_file(samples / "grey-then-red.mp4") ||
      !fs::is_regular_file(samples / "green-then-blue.mp4")) {
    std::fprintf(stderr, "snapshots: the sample media are missing from %s\n",
                 samples.empty() ? "the installation" : samples.c_str());
    return false;
  }
  for (int i = 0; i < 7; ++i) {
    const auto folder = i == 6 ? sample_->holiday : sample_->media;
    fs::copy_file(samples / photos[i].toStdString(), folder / photos[i].toStdString());
    if (i == 0) sample_->firstPhoto = folder / photos[i].toStdString();
  }
  // Two copies of the first photo, one exact and one smaller, for the duplicates window.
  const fs::path first = sample_->firstPhoto;
  fs::copy_file(first, first.parent_path() / (first.stem().string() + " copy.jpg"));
  fs::copy_file(samples / (first.stem().string() + " small.jpg"),
                first.parent_path() / (first.stem().string() + " small.jpg"));
  for (const char* clip : {"grey-then-red.mp4", "green-then-blue.mp4"}) {
    fs::copy_file(samples / clip, sample_->media / "Videos" / clip);
  }
  paintSign(sample_->media / "Station.jpg");
  // Enough clips that the busy folder is still at work through the sidebar's paused states.
  for (int i = 0; i < 96; ++i) {
    const auto name = (i % 2 ? "green-then-blue.mp4" : "grey-then-red.mp4");
    fs::copy_file(sample_->media / "Videos" / name,
                  sample_->busy / ("Clip " + std::to_string(i + 1) + ".mp4"));
  }
  fs::copy_file(first, sample_->busy / first.filename());
  // Large enough to be taken for a photo, yet no picture.
  writeFile(sample_->busy / "Unfinished download.jpg",
            std::string(Scanner::minimumPhotoBytes, 'x'));
  return true;
}

AppModel::Setup Snapshots::setup(const fs::path& library) const {
  AppModel::Setup setup;
  setup.libraryPath = library;
  // Made-up power and thermal readings: the machine's own never pause the
  // sample.
  setup.conditions = std::make_shared<PowerMonitor>(machine_);
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
    const auto added = model->folders()->addFolder(folder);
    if (folder == sample_->empty && added.root) sample_->emptyRoot = added.root->id;
  }
  const bool indexed = waitUntil(
      [&model] {
        return model->folders()->totalFiles() > 0 && model->folders()->totalPending() == 0 &&
               model->progress().phase.kind == Indexer::Phase::Kind::idle;
      },
      300000);
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
  // A window of a fixed size keeps it; the others are shown at the snapshot size.
  window->resize(std::min(width, window->maximumWidth()),
                 std::min(height, window->maximumHeight()));
  window->show();
  return window;
}

bool Snapshots::save(QQuickWindow& window, const QString& name) {
  const QString file = QDir(directory_).filePath(name + (dark_ ? "-dark" : "") + ".png");
  QImage shot = window.grabWindow();
  if (shot.size() != QSize(width, height)) {
    // A window of a fixed smaller size, centred on a plain desktop of the usual
    // size.
    QImage desktop(width, height, QImage::Format_RGB32);
    desktop.fill(dark_ ? QColor(0x10, 0x10, 0x12) : QColor(0xc8, 0xc8, 0xcc));
    QPainter painter(&desktop);
    painter.drawImage((width - shot.width()) / 2, (height - shot.height()) / 2, shot);
    painter.end();
    shot = desktop;
  }
  const bool saved = shot.save(file);
  if (!saved) std::fprintf(stderr, "snapshots: could not write %s\n", qPrintable(file));
  return saved;
}

void Snapshots::shootMain(AppModel& model, const QString& name,
                          const std::function<void(QQuickWindow&)>& prepare) {
  shoot("Main.qml", model, name, prepare);
}

void Snapshots::shoot(const QString& file, AppModel& model, const QString& name,
                      const std::function<void(QQuickWindow&)>& prepare, int wait) {
  const QPalette light = QGuiApplication::palette();
  for (const bool dark : {false, true}) {
    dark_ = dark;
    // As on a dark desktop: the application's palette (which SystemPalette
    // reads) and the window's.
    QGuiApplication::setPalette(dark ? darkPalette() : light);
    std::unique_ptr<QQuickWindow> window(makeWindow(file, model));
    if (!window) {
      ++failures_;
      continue;
    }
    if (dark) applyPalette(*window, darkPalette());
    if (wait > 0 || wait == atOnce) settle(300);
    if (prepare) prepare(*window);
    // Pictures load off the GUI thread.
    if (wait != atOnce) settle(wait);
    if (!save(*window, name)) ++failures_;
  }
  QGuiApplication::setPalette(light);
  dark_ = false;
}

void Snapshots::mainWindow() {
  const fs::path root = temp_.path().toStdString();
  {
    // No model where the application looks for it.
    auto setup = this->setup(root / "Broken.sqlite");
    setup.modelDirectory = root / "No Model";
    AppModel model(setup);
    shoot("Main.qml", model, "main-cant-start", {}, textOnly);
  }
  {
    // An older library being brought up to date: the queue it is upgraded on is held until
    // the window is drawn.
    const fs::path older = root / "Older.sqlite";
    makeOlder(sample_->library, older);
    SerialQueue queue("quillmere.upgrade");
    std::promise<void> go;
    queue.post([held = go.get_future().share()] { held.wait(); });
    auto setup = this->setup(older);
    setup.upgradeQueue = &queue;
    AppModel model(setup);
    shoot("Main.qml", model, "main-updating-library", {}, textOnly);
    go.set_value();
    if (!waitUntil([&model] { return model.ready(); }, 60000)) {
      std::fprintf(stderr, "snapshots: the older library was not upgraded in time\n");
      ++failures_;
    }
  }
  {
    auto model = openModel(root / "Empty.sqlite");
    shoot("Main.qml", *model, "main-first-run", {}, textOnly);
    // A drag over the drop zone.
    shoot(
        "Main.qml", *model, "main-first-run-targeted",
        [](QQuickWindow& window) {
          if (auto* view = window.findChild<QObject*>("firstRunView"))
            view->setProperty("targeted", true);
        },
        textOnly);
  }
  {
    // A folder whose files are not indexed yet: nothing to find so far.
    auto model = openModel(root / "New.sqlite");
    model->folders()->addFolder(sample_->empty);
    settle(300);
    search(*model, "red car at night");
    shoot("Main.qml", *model, "main-getting-ready", {}, textOnly);
  }
  auto model = openModel(sample_->library);
  shoot("Main.qml", *model, "main-ready", {}, textOnly);
  search(*model, "red");
  shootMain(*model, "main-results");
  if (const auto video = firstOther(*model, MediaKind::video)) {
    bool refined = false;
    const auto connection = QObject::connect(model->search(), &SearchModel::exactTimesChanged,
                                             [&refined] { refined = true; });
    model->search()->select(*video);
    waitUntil([&refined] { return refined; }, 10000);
    QObject::disconnect(connection);
  }
  shootMain(*model, "main-video-selected");
  // Played a moment in the preview, then paused, with its controls over the picture.
  shootMain(*model, "main-video-playing", [](QQuickWindow& window) {
    auto* loader = window.findChild<QObject*>("previewMedia");
    auto* media = loader ? loader->property("item").value<QObject*>() : nullptr;
    if (!media) return;
    QMetaObject::invokeMethod(media, "play");
    auto* player = media->property("player").value<QObject*>();
    if (!player) return;
    waitUntil([player] { return player->property("playing").toBool(); }, 10000);
    settle(1200);
    QMetaObject::invokeMethod(player, "pause");
  });
  // A photo, whose picture the peek shows at once.
  if (const auto photo = firstOther(*model, MediaKind::photo)) model->search()->select(*photo);
  shootMain(*model, "main-peek",
            [](QQuickWindow& window) { QMetaObject::invokeMethod(&window, "togglePeek"); });
  // A region drawn over the photo in the preview, its search beside it.
  shootMain(*model, "preview-region", [](QQuickWindow& window) {
    auto* loader = window.findChild<QObject*>("previewMedia");
    auto* media = loader ? loader->property("item").value<QObject*>() : nullptr;
    if (!media) return;
    QMetaObject::invokeMethod(media, "startRegion");
    QMetaObject::invokeMethod(media, "setRegion", Q_ARG(QVariant, 0.3), Q_ARG(QVariant, 0.2),
                              Q_ARG(QVariant, 0.45), Q_ARG(QVariant, 0.4));
  });
  // The notice in the words the real one takes, in the user's language.
  model->setNotice(
      Actions::tr("Connect %1 to open %2.").arg(Actions::tr("the drive"), "LadyBird.jpg"));
  shootMain(*model, "main-notice");
  model->setNotice("");
  searchAfter(*model, [&] { model->search()->searchByImage(qs(sample_->firstPhoto)); });
  shootMain(*model, "main-image-query");
  search(*model, "- red");
  shootMain(*model, "main-image-and-words");
  if (const auto photo = firstOther(*model, MediaKind::photo)) {
    bool applied = false;
    const auto connection = QObject::connect(model->search(), &SearchModel::searchApplied,
                                             [&applied] { applied = true; });
    model->search()->searchRegion(*photo, 0, 0.3, 0.2, 0.45, 0.4);
    waitUntil([&applied] { return applied; }, 30000);
    QObject::disconnect(connection);
  }
  shootMain(*model, "main-region-query");
  model->search()->clearImageQuery();
  searchAfter(*model, [&model] {
    model->search()->setQuery("red");
    model->search()->setWhen(SearchModel::When::ThisYear);
    model->search()->setOrder(SearchModel::Order::Newest);
  });
  shootMain(*model, "main-date-filter");
  // The custom range asked for, with a typing slip in its last day.
  shootMain(*model, "main-custom-range", [](QQuickWindow& window) {
    auto* popup = window.findChild<QObject*>("customRangePopup");
    if (!popup) return;
    QMetaObject::invokeMethod(popup, "open");
    settle(300);
    if (auto* from = window.findChild<QObject*>("customFrom")) from->setProperty("text", "2024-06");
    if (auto* to = window.findChild<QObject*>("customTo")) to->setProperty("text", "2024-08-32");
    QMetaObject::invokeMethod(popup, "apply");
  });
  model->search()->setWhen(SearchModel::When::AnyTime);
  model->search()->setOrder(SearchModel::Order::Best);
  model->search()->setFolderFilter(sample_->emptyRoot);
  search(*model, "a lighthouse by the sea");
  shoot("Main.qml", *model, "main-nothing-matches", {}, textOnly);
  // The words of the station's sign: found by its text, outlined in the preview.
  model->search()->setFolderFilter(std::nullopt);
  search(*model, "platform departures");
  if (const auto& results = model->search()->results()->results(); !results.empty())
    model->search()->select(results.front().frameID);
  shootMain(*model, "main-found-by-text");
}

std::unique_ptr<AppModel> Snapshots::sidebar() {
  auto model = openModel(fs::path(temp_.path().toStdString()) / "Busy.sqlite");
  auto& status = *model->indexing();
  auto reason = [&status](IndexingStatus::PauseReason wanted) {
    return [&status, wanted] { return status.pauseReason() == wanted; };
  };
  const auto profile = machine_ / "sys/firmware/acpi/platform_profile";
  const auto zone = machine_ / "sys/class/thermal/thermal_zone0";
  model->folders()->addFolder(sample_->busy);
  waitUntil([&status] { return status.doneFiles() >= 1; }, 60000);
  // At work, while most of the folder is still to do.
  shoot("Main.qml", *model, "sidebar-indexing", {}, textOnly);
  writeFile(profile, "low-power\n");
  waitUntil(reason(IndexingStatus::PauseReason::LowPower), 30000);
  shoot("Main.qml", *model, "sidebar-paused-power-saver", {}, textOnly);
  fs::remove(profile);
  writeFile(zone / "temp", "95000\n");
  writeFile(zone / "trip_point_0_type", "passive\n");
  writeFile(zone / "trip_point_0_temp", "90000\n");
  waitUntil(reason(IndexingStatus::PauseReason::Hot), 30000);
  shoot("Main.qml", *model, "sidebar-paused-hot", {}, textOnly);
  fs::remove_all(zone);
  status.pause();
  waitUntil(reason(IndexingStatus::PauseReason::User), 30000);
  shoot("Main.qml", *model, "sidebar-paused-user", {}, textOnly);
  status.resume();
  waitUntil(reason(IndexingStatus::PauseReason::None), 30000);
  const bool idle = waitUntil(
      [&model] {
        return model->folders()->totalPending() == 0 &&
               model->progress().phase.kind == Indexer::Phase::Kind::idle;
      },
      120000);
  if (!idle) std::fprintf(stderr, "snapshots: the busy folder was not indexed in time\n");
  model->folders()->refreshTotals();
  shoot("Main.qml", *model, "sidebar-failed-files", {}, textOnly);
  return model;
}

void Snapshots::duplicatesWindow(AppModel& withGroups, AppModel& withoutGroups) {
  // A comparison started just before the shot, whose answer cannot come in before it: the
  // one the window starts when shown is over at once in so small a library.
  auto comparing = [](QQuickWindow& window) {
    if (auto* duplicates = child(window, "duplicates"))
      QMetaObject::invokeMethod(duplicates, "find");
  };
  shoot("DuplicatesWindow.qml", withGroups, "duplicates-working", comparing, atOnce);
  auto searched = [](QQuickWindow& window) {
    auto* duplicates = child(window, "duplicates");
    waitUntil(
        [duplicates] {
          return !duplicates || (duplicates->property("searched").toBool() &&
                                 !duplicates->property("working").toBool());
        },
        30000);
  };
  shoot("DuplicatesWindow.qml", withGroups, "duplicates-groups", searched);
  shoot("DuplicatesWindow.qml", withoutGroups, "duplicates-none", searched, textOnly);
}

void Snapshots::settingsWindow(AppModel& model) {
  const std::pair<const char*, int> tabs[] = {
      {"settings-folders", 0}, {"settings-privacy", 1}, {"settings-model", 2}};
  for (const auto& [name, tab] : tabs) {
    shoot(
        "SettingsWindow.qml", model, name,
        [tab](QQuickWindow& window) { window.setProperty("currentTab", tab); }, textOnly);
  }
  shoot(
      "SettingsWindow.qml", model, "settings-model-downloading",
      [&model](QQuickWindow& window) {
        window.setProperty("currentTab", 2);
        model.downloads()->show(model.downloads()->offerId(), 0.42);
      },
      textOnly);
  model.downloads()->show(model.downloads()->offerId(), -1);
  auto textTab = [](QQuickWindow& window) { window.setProperty("currentTab", 3); };
  shoot("SettingsWindow.qml", model, "settings-text", textTab, textOnly);
  {
    // No text model where the application looks for it.
    const fs::path root = temp_.path().toStdString();
    auto setup = this->setup(root / "No Text.sqlite");
    setup.textModelDirectory = root / "No Text Model";
    AppModel withoutText(setup);
    settle(300);
    shoot("SettingsWindow.qml", withoutText, "settings-text-no-model", textTab, textOnly);
  }
  // The last folder chosen, then the first removed: the choice stays on its folder. Once
  // for both palettes.
  std::optional<std::int64_t> chosen;
  shoot(
      "SettingsWindow.qml", model, "settings-folders-after-removal",
      [&model, &chosen](QQuickWindow& window) {
        const auto& folders = model.folders()->list()->folders();
        if (!chosen && folders.size() > 1) {
          chosen = folders.back().root.id;
          window.setProperty("selectedRoot", QVariant::fromValue<qint64>(*chosen));
          model.folders()->removeFolder(folders.front().root.id);
        } else if (chosen) {
          window.setProperty("selectedRoot", QVariant::fromValue<qint64>(*chosen));
        }
      },
      textOnly);
}

void Snapshots::playerWindow() {
  const auto clip = QUrl::fromLocalFile(qs(sample_->media / "Videos" / "green-then-blue.mp4"));
  const QPalette light = QGuiApplication::palette();
  for (const bool dark : {false, true}) {
    dark_ = dark;
    QGuiApplication::setPalette(dark ? darkPalette() : light);
    QQmlComponent component(&engine_, QUrl("qrc:/Quillmere/qml/PlayerWindow.qml"));
    std::unique_ptr<QQuickWindow> window(qobject_cast<QQuickWindow*>(
        component.createWithInitialProperties({{"file", clip}, {"start", 2.0}})));
    if (!window) {
      std::fprintf(stderr, "snapshots: PlayerWindow.qml: %s\n",
                   qPrintable(component.errorString()));
      ++failures_;
      continue;
    }
    if (dark) applyPalette(*window, darkPalette());
    window->resize(width, height);
    window->show();
    waitUntil([&window] { return !window->property("seeking").toBool(); }, 10000);
    settle(textOnly);
    if (!save(*window, "player-window")) ++failures_;
  }
  QGuiApplication::setPalette(light);
  dark_ = false;
}

}  // namespace quillmere
