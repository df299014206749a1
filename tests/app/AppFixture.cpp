// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppFixture.h"

#include <QAccessible>
#include <QQuickItem>
#include <QSettings>
#include <algorithm>
#include <set>

#include "IndexingStatus.h"
#include "LibrarySettings.h"
#include "platform/PowerMonitor.h"
#include "support/LibraryTestAccess.h"
#include "support/MediaFactory.h"

namespace quillmere::test {

void AppTest::SetUpTestSuite() {
  if (media) return;
  media = std::make_unique<TempDirectory>();
  std::vector<std::filesystem::path> sources;
  for (const auto& entry :
       std::filesystem::directory_iterator("/usr/share/backgrounds/mate/nature")) {
    if (entry.path().extension() == ".jpg") sources.push_back(entry.path());
  }
  std::sort(sources.begin(), sources.end());
  for (std::size_t i = 0; i < sources.size() && i < 8; ++i) {
    const auto out = media->path() / ("base" + std::to_string(i) + ".jpg");
    runCommand("vips thumbnail " + shellQuoted(sources[i]) + " " +
               shellQuoted(out.string() + "[Q=90]") + " 320");
    photos.push_back(out);
  }
}

void AppTest::attach(LibrarySettings& settings) {
  settings.setSearch(model().search());
  settings.setFolders(model().folders());
  settings.setIndexing(model().indexing());
  settings.setActions(model().actions());
  settings.setLibraryPath(model().libraryPath());
  QObject::connect(&settings, &LibrarySettings::noticed, &model(), &AppModel::setNotice);
}

void AppTest::SetUp() {
  ASSERT_FALSE(photos.empty()) << "no wallpaper photos under /usr/share/backgrounds/mate";
  temp = std::make_unique<TempDirectory>();
  std::filesystem::create_directories(systemRoot() / "machine");
  // Each test starts with the text switch as a new user finds it.
  QSettings().remove(IndexingStatus::readsTextKey);
}

void AppTest::TearDown() {
  model_.reset();
}

std::filesystem::path AppTest::modelDirectory() const {
  return std::filesystem::path(QUILLMERE_RESOURCES_DIR) / "Model";
}

AppModel::Setup AppTest::setup() const {
  AppModel::Setup setup;
  setup.modelDirectory = modelDirectory();
  setup.libraryPath = temp->path() / "Library.sqlite";
  // No text model unless a test gives one: reading every photo's text would slow every test.
  setup.textModelDirectory = temp->path() / "no-text-model";
  setup.conditions = std::make_shared<PowerMonitor>(systemRoot() / "machine");
  setup.systemRoot = systemRoot();
  return setup;
}

AppModel& AppTest::model() {
  if (!model_) model_ = std::make_unique<AppModel>(setup());
  return *model_;
}

std::filesystem::path AppTest::makeFolder(const std::string& name) {
  const auto folder = temp->path() / name;
  std::filesystem::create_directories(folder);
  return folder;
}

void AppTest::addPhotos(const std::filesystem::path& folder, int count, const std::string& prefix) {
  for (int i = 0; i < count; ++i) {
    std::filesystem::copy_file(photos[static_cast<std::size_t>(i) % photos.size()],
                               folder / (prefix + std::to_string(i) + ".jpg"),
                               std::filesystem::copy_options::overwrite_existing);
  }
}

std::filesystem::path AppTest::addClip(const std::filesystem::path& folder,
                                       const std::string& name) {
  const auto file = folder / name;
  makePatternClip(file, 6, {.width = 320, .height = 180, .fps = 10});
  return file;
}

void AppTest::waitIdle() {
  // A scan asked for as a run ends may start a new run after waitUntilIdle returned, so
  // wait until nothing is pending in the folders that can be read; the indexer's reports
  // come back as queued calls, so let them arrive too.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    QTest::qWait(50);
    model().indexer()->waitUntilIdle();
    QTest::qWait(100);
    std::set<std::int64_t> online;
    for (const auto& folder : model().folders()->list()->folders()) {
      if (folder.online) online.insert(folder.root.id);
    }
    const bool settled = model().progress().phase.kind == Indexer::Phase::Kind::idle &&
                         LibraryTestAccess::pending(*model().library(), online).empty();
    if (settled || std::chrono::steady_clock::now() > deadline) return;
  }
}

std::int64_t AppTest::addIndexed(const std::filesystem::path& folder) {
  const auto result = model().folders()->addFolder(folder);
  EXPECT_EQ(result.outcome, FolderRules::Outcome::added) << result.message;
  waitIdle();
  return result.root ? result.root->id : 0;
}

void AppTest::search(const QString& query) {
  QSignalSpy applied(model().search(), &SearchModel::searchApplied);
  model().search()->setQuery(query);
  EXPECT_TRUE(applied.wait(answerWait)) << "no answer for " << query.toStdString();
}

std::string unnamedControls(QWindow* window) {
  // Controls join once a reader listens, a button named by its text (read here, as the
  // offscreen platform does not). A text field's text and placeholder are no name: the
  // desktop's accessibility bus does not pass them on as one.
  QAccessible::setActive(true);
  QStringList unnamed;
  std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
    const auto state = node->state();
    auto* item = qobject_cast<QQuickItem*>(node->object());
    bool named = !node->text(QAccessible::Name).trimmed().isEmpty();
    if (node->role() != QAccessible::EditableText)
      named = named || !node->object()->property("text").toString().trimmed().isEmpty();
    // A combo box's text is a disabled field inside it, no control of its own.
    const bool control = item && item->activeFocusOnTab() && item->isEnabled();
    if (control && !state.invisible && !named)
      unnamed << item->objectName() + " " + item->metaObject()->className();
    for (int i = 0; i < node->childCount(); ++i) {
      if (auto* child = node->child(i)) walk(child);
    }
  };
  walk(QAccessible::queryAccessibleInterface(window));
  QAccessible::setActive(false);
  return unnamed.join(", ").toStdString();
}

}  // namespace quillmere::test
