// SPDX-License-Identifier: GPL-3.0-or-later
// The file operations on results: opening, copying the path, exporting markers, showing in
// the file manager over a real session bus; and the menu bar's items, their order and when
// they can be used. Against the demo model, a real library, real photos and a real clip.
#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QtTest/QSignalSpy>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "Actions.h"
#include "AppCommands.h"
#include "AppFixture.h"
#include "FileManagerStandIn.h"
#include "IndexingStatus.h"
#include "LibrarySettings.h"
#include "OpenedUrls.h"
#include "PortalStandIn.h"

namespace quillmere::test {
namespace {

std::string readText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class ActionsTest : public AppTest {
 protected:
  // Wallpapers in Photos, a moving clip in Videos; a search that finds both.
  void makeLibrary() {
    const auto photos = makeFolder("Photos");
    const auto videos = makeFolder("Videos");
    addPhotos(photos, 3);
    clip = addClip(videos, "clip.mp4");
    addIndexed(photos);
    addIndexed(videos);
    ASSERT_EQ(model().folders()->totals().indexed, 4);
    search("red");
  }
  Actions& actions() { return *model().actions(); }
  std::optional<SearchResult> first(MediaKind kind) const {
    for (const auto& result : model_->search()->results()->results()) {
      if (result.file.kind == kind) return result;
    }
    return std::nullopt;
  }
  // Selects the first video and waits for its exact time.
  SearchResult refinedVideo() {
    const auto video = first(MediaKind::video);
    EXPECT_TRUE(video);
    if (!video) return {};
    model().search()->select(video->frameID);
    EXPECT_TRUE(waitFor([&] { return model().search()->exactTimes().contains(video->frameID); }));
    return *video;
  }
  // count results of the clip, each at its own time, as the list the model shows.
  void listClipResults(int count) {
    const auto video = first(MediaKind::video);
    ASSERT_TRUE(video);
    std::vector<SearchResult> results;
    for (int i = 0; i < count; ++i) {
      auto result = *video;
      result.frameID = video->frameID + 1000 + i;
      result.time = (i % 60) / 10.0;
      result.score = 0.5f - static_cast<float>(i) / 1000;
      results.push_back(result);
    }
    model().search()->results()->setResults(std::move(results));
  }
  // Asks for an export and saves it to file; false when it was not asked for or failed.
  bool exportTo(const std::filesystem::path& file, int nameFilter = 0) {
    QSignalSpy asked(&actions(), &Actions::exportAsked);
    actions().exportMarkers();
    if (asked.count() != 1) return false;
    QSignalSpy finished(&actions(), &Actions::exportFinished);
    actions().saveExport(QUrl::fromLocalFile(QString::fromStdString(file.string())), nameFilter);
    return finished.wait(answerWait) && finished.front().front().toBool();
  }

  std::filesystem::path clip;
};

TEST_F(ActionsTest, AVideoOpensInThePlayerAtItsExactTimeAndAPhotoInTheDefaultApplication) {
  makeLibrary();
  const auto video = refinedVideo();
  QSignalSpy played(&actions(), &Actions::playVideo);
  actions().open(video.frameID);
  ASSERT_EQ(played.count(), 1);
  EXPECT_EQ(played.front()[0].toUrl().toLocalFile().toStdString(), clip.string());
  EXPECT_DOUBLE_EQ(played.front()[1].toDouble(), model().search()->exactTimes().at(video.frameID));

  OpenedUrls opened;
  const auto photo = first(MediaKind::photo);
  ASSERT_TRUE(photo);
  actions().open(photo->frameID);
  ASSERT_EQ(opened.opened.size(), 1u);
  EXPECT_EQ(opened.opened.front().toLocalFile().toStdString(),
            (temp->path() / "Photos" / photo->file.relPath).string());
  EXPECT_EQ(played.count(), 1);
}

// The offscreen platform has no default applications, as a desktop may have none for a type.
TEST_F(ActionsTest, APhotoWithNoApplicationToOpenItSaysSo) {
  if (QGuiApplication::platformName() != "offscreen") GTEST_SKIP() << "needs no default handler";
  makeLibrary();
  const auto photo = first(MediaKind::photo);
  ASSERT_TRUE(photo);
  actions().open(photo->frameID);
  EXPECT_EQ(model().notice().toStdString(),
            "No application is set up to open " + photo->file.name() + ".");
}

TEST_F(ActionsTest, OpeningOnAnUnpluggedDriveNamesTheDriveAndOpensNothing) {
  makeLibrary();
  const auto photo = first(MediaKind::photo);
  ASSERT_TRUE(photo);
  std::filesystem::rename(temp->path() / "Photos", temp->path() / "Unplugged");
  model().folders()->resolveFolders();
  OpenedUrls opened;
  actions().open(photo->frameID);
  EXPECT_TRUE(opened.opened.empty());
  EXPECT_EQ(model().notice().toStdString(),
            "Connect the drive to open " + photo->file.name() + ".");
}

TEST_F(ActionsTest, CopyPathCopiesTheAbsolutePathWithTheExactTimeWhenAsked) {
  makeLibrary();
  const auto video = refinedVideo();
  const auto path = QString::fromStdString(clip.string());
  actions().copyPath(video.frameID, false);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), path);
  actions().copyPath(video.frameID, true);
  EXPECT_EQ(QGuiApplication::clipboard()->text(),
            path + " " + Actions::timecode(model().search()->exactTimes().at(video.frameID)));
}

TEST(ActionsTimecode, IsWholeSecondsAsHoursMinutesAndSeconds) {
  EXPECT_EQ(Actions::timecode(75.9), "00:01:15");
  EXPECT_EQ(Actions::timecode(0), "00:00:00");
  EXPECT_EQ(Actions::timecode(3 * 3600 + 25 * 60 + 7.2), "03:25:07");
}

TEST(ActionsHelp, ThePageFollowsTheFirstPreferredLanguage) {
  EXPECT_TRUE(Actions::helpAddress({"es-MX", "en"}).toString().endsWith("/es/support"));
  EXPECT_TRUE(Actions::helpAddress({"pt-BR"}).toString().endsWith("/pt/support"));
  EXPECT_TRUE(Actions::helpAddress({"de-DE", "es"}).toString().endsWith("/help"));
  EXPECT_TRUE(Actions::helpAddress({}).toString().endsWith("/help"));
}

TEST_F(ActionsTest, ExportingOnlyPhotosSaysThereAreNoVideoResults) {
  makeLibrary();
  QSignalSpy applied(model().search(), &SearchModel::searchApplied);
  model().search()->setKindFilter(SearchModel::KindFilter::Photos);
  ASSERT_TRUE(applied.wait(answerWait));
  ASSERT_GT(model().search()->results()->rowCount(), 0);
  QSignalSpy asked(&actions(), &Actions::exportAsked);
  actions().exportMarkers();
  EXPECT_EQ(asked.count(), 0);
  EXPECT_EQ(model().notice(),
            "There are no video results to export. Search for a moment in your videos first.");
}

TEST_F(ActionsTest, TwoHundredFiftyVideoResultsGiveAHundredMomentsButEveryRowInCSV) {
  makeLibrary();
  listClipResults(250);
  const auto fcpxml = temp->path() / "markers.fcpxml";
  ASSERT_TRUE(exportTo(fcpxml));
  const auto xml = readText(fcpxml);
  EXPECT_EQ(occurrences(xml, "<marker "), 100u);
  EXPECT_EQ(model().notice(), "Exported 100 moments to markers.fcpxml.");

  // The extension decides, in any case.
  const auto csv = temp->path() / "markers.CSV";
  ASSERT_TRUE(exportTo(csv));
  const auto table = readText(csv);
  EXPECT_EQ(occurrences(table, "\n"), 251u);  // the header and every row
  EXPECT_EQ(table.rfind("File,", 0), 0u);
  EXPECT_EQ(model().notice(), "Exported 250 moments to markers.CSV.");

  // Without one, the chosen type's extension is added, and the type decides.
  ASSERT_TRUE(exportTo(temp->path() / "table", 1));
  EXPECT_EQ(readText(temp->path() / "table.csv"), table);
  EXPECT_FALSE(std::filesystem::exists(temp->path() / "table"));
  EXPECT_EQ(model().notice(), "Exported 250 moments to table.csv.");
}

TEST_F(ActionsTest, AnExportAskedForWhileOneIsBeingSavedSaysSo) {
  makeLibrary();
  listClipResults(3);
  QSignalSpy asked(&actions(), &Actions::exportAsked);
  QSignalSpy finished(&actions(), &Actions::exportFinished);
  actions().exportMarkers();
  actions().saveExport(
      QUrl::fromLocalFile(QString::fromStdString((temp->path() / "a.csv").string())));
  ASSERT_TRUE(actions().exporting());
  actions().exportMarkers();
  EXPECT_EQ(asked.count(), 1);
  EXPECT_EQ(model().notice(), Actions::stillExporting);
  ASSERT_TRUE(finished.wait(answerWait));
  EXPECT_EQ(model().notice(), "Exported 3 moments to a.csv.");
}

TEST_F(ActionsTest, OneMomentIsReportedInTheSingular) {
  makeLibrary();
  listClipResults(1);
  ASSERT_TRUE(exportTo(temp->path() / "one.fcpxml"));
  EXPECT_EQ(model().notice(), "Exported 1 moment to one.fcpxml.");
}

TEST_F(ActionsTest, ASlashInTheQueryBecomesAHyphenInTheSuggestedNameOnly) {
  makeLibrary();
  search("cats/dogs");
  ASSERT_TRUE(first(MediaKind::video));
  QSignalSpy asked(&actions(), &Actions::exportAsked);
  actions().exportMarkers();
  ASSERT_EQ(asked.count(), 1);
  EXPECT_EQ(actions().exportFileName(), QString::fromUtf8("Quillmere \u2013 cats-dogs.fcpxml"));
  EXPECT_EQ(actions().exportTitle(), QString::fromUtf8("Quillmere \u2013 cats/dogs"));
  const auto file = temp->path() / actions().exportFileName().toStdString();
  QSignalSpy finished(&actions(), &Actions::exportFinished);
  actions().saveExport(QUrl::fromLocalFile(QString::fromStdString(file.string())));
  ASSERT_TRUE(finished.wait(answerWait));
  EXPECT_NE(readText(file).find("<project name=\"Quillmere \u2013 cats/dogs\">"),
            std::string::npos);
}

TEST_F(ActionsTest, TheExactTimeIsWhatIsExported) {
  makeLibrary();
  const auto video = refinedVideo();
  model().search()->results()->setResults({video});
  const auto csv = temp->path() / "exact.csv";
  ASSERT_TRUE(exportTo(csv));
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, ",%.2f,",
                model().search()->exactTimes().at(video.frameID));
  EXPECT_NE(readText(csv).find(seconds), std::string::npos) << readText(csv);
}

TEST_F(ActionsTest, AFailedWriteLeavesNoFileAndSaysWhy) {
  makeLibrary();
  listClipResults(3);
  const auto target = temp->path() / "missing" / "markers.csv";
  EXPECT_FALSE(exportTo(target));
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_TRUE(model().notice().startsWith("Couldn't save the export: "))
      << model().notice().toStdString();
}

// ---- The desktop's services, on a session bus of the test's own ----

// Runs inside dbus-run-session (started by the test below); skipped anywhere else.
class SessionBusTest : public ActionsTest {
 protected:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QUILLMERE_TEST_SESSION_BUS")) {
      GTEST_SKIP() << "runs on its own session bus";
    }
    ActionsTest::SetUp();
  }
};

TEST_F(SessionBusTest, TheFileManagerShowsTheFileAndWithoutOneTheFolderOpens) {
  makeLibrary();
  const auto video = first(MediaKind::video);
  ASSERT_TRUE(video);
  FileManagerStandIn fileManager;
  ASSERT_TRUE(fileManager.start());
  QSignalSpy revealed(&actions(), &Actions::revealed);
  OpenedUrls opened;
  actions().showInFolder(video->frameID);
  ASSERT_TRUE(revealed.wait(answerWait));
  EXPECT_TRUE(revealed.front()[1].toBool());
  EXPECT_EQ(fileManager.shown,
            QStringList{QUrl::fromLocalFile(QString::fromStdString(clip.string())).toString()});
  // The Privacy tab's "Show in Folder" shows the library file the same way.
  LibrarySettings settings;
  attach(settings);
  settings.showLibrary();
  ASSERT_TRUE(revealed.wait(answerWait));
  EXPECT_EQ(fileManager.shown.back(),
            QUrl::fromLocalFile(QString::fromStdString(model().libraryFile().string())).toString());
  EXPECT_TRUE(opened.opened.empty());

  fileManager.stop();
  actions().showInFolder(video->frameID);
  ASSERT_TRUE(revealed.wait(answerWait));
  EXPECT_FALSE(revealed.back()[1].toBool());
  ASSERT_EQ(opened.opened.size(), 1u);
  EXPECT_EQ(opened.opened.front().toLocalFile().toStdString(), clip.parent_path().string());
  EXPECT_EQ(fileManager.shown.size(), 2);
}

// Several folders picked at once in the desktop's chooser are added in the order picked, each
// with its own notice; with no chooser on the bus, Qt's is asked to open instead.
TEST_F(SessionBusTest, SeveralFoldersPickedInTheDesktopsChooserAreAddedInOrder) {
  makeLibrary();
  const auto a = makeFolder("Picked/b first");
  const auto b = makeFolder("Picked/a second");
  const auto url = [](const std::filesystem::path& path) {
    return QUrl::fromLocalFile(QString::fromStdString(path.string())).toString();
  };
  PortalStandIn portal;
  ASSERT_TRUE(portal.start());
  portal.answer = {url(a), url(b), "sftp://nas.local/photos"};
  FolderPicker* picker = model().folders()->picker();
  QSignalSpy chosen(picker, &FolderPicker::chosen);
  ASSERT_TRUE(picker->choose(nullptr, "Choose", "Add"));
  EXPECT_FALSE(picker->choose(nullptr, "Choose", "Add"));  // one pick at a time
  ASSERT_TRUE(chosen.wait(answerWait));
  EXPECT_TRUE(portal.options["directory"].toBool());
  EXPECT_TRUE(portal.options["multiple"].toBool());
  std::map<std::string, std::int64_t> ids;  // folder -> id, given in the order added
  for (const auto& folder : model().folders()->list()->folders()) {
    ids[folder.root.path] = folder.root.id;
  }
  ASSERT_TRUE(ids.contains(a.string()) && ids.contains(b.string()));
  EXPECT_LT(ids[a.string()], ids[b.string()]);
  EXPECT_EQ(
      model().notice(),
      "sftp://nas.local/photos can't be added: Quillmere adds folders on this computer only.");

  // A chooser that never answers and then leaves the bus does not keep the next pick waiting.
  portal.answers = false;
  portal.options.clear();
  QSignalSpy unavailable(picker, &FolderPicker::unavailable);
  ASSERT_TRUE(picker->choose(nullptr, "Choose", "Add"));
  ASSERT_TRUE(waitFor([&] { return !portal.options.isEmpty(); }));
  portal.stop();
  ASSERT_TRUE(unavailable.wait(answerWait));
  ASSERT_TRUE(picker->choose(nullptr, "Choose", "Add"));
  EXPECT_TRUE(unavailable.wait(answerWait));
  EXPECT_EQ(unavailable.size(), 2);
}

TEST(SessionBus, TheDesktopsServicesWorkAgainstARealSessionBus) {
  if (!qEnvironmentVariableIsEmpty("QUILLMERE_TEST_SESSION_BUS")) GTEST_SKIP();
  QProcess run;
  auto environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QUILLMERE_TEST_SESSION_BUS", "1");
  run.setProcessEnvironment(environment);
  run.setProcessChannelMode(QProcess::MergedChannels);
  run.start("dbus-run-session",
            {"--", QCoreApplication::applicationFilePath(), "--gtest_filter=SessionBusTest.*"});
  ASSERT_TRUE(run.waitForFinished(240000));
  const auto output = QString::fromUtf8(run.readAll());
  EXPECT_EQ(run.exitCode(), 0) << output.toStdString();
  EXPECT_TRUE(output.contains("[  PASSED  ] 2 tests")) << output.toStdString();
}

// ---- The menu bar ----

class MenuBarTest : public ActionsTest {
 protected:
  void load() {
    component = std::make_unique<QQmlComponent>(&engine, QUrl("qrc:/Quillmere/qml/AppMenuBar.qml"));
    ASSERT_TRUE(component->isReady()) << component->errorString().toStdString();
    bar.reset(component->createWithInitialProperties({{"app", QVariant::fromValue(&model())}}));
    ASSERT_TRUE(bar) << component->errorString().toStdString();
  }
  QObject* item(const char* name) const { return bar->findChild<QObject*>(name); }
  bool enabled(const char* name) const {
    auto* found = item(name);
    EXPECT_TRUE(found) << name;
    return found && found->property("enabled").toBool();
  }
  // The texts of a menu's items in order, separators as "-".
  QStringList texts(const char* menuName) const {
    QStringList list;
    auto* menu = item(menuName);
    if (!menu) return list;
    const int count = menu->property("count").toInt();
    for (int i = 0; i < count; ++i) {
      QQuickItem* entry = nullptr;
      QMetaObject::invokeMethod(menu, "itemAt", Q_RETURN_ARG(QQuickItem*, entry), Q_ARG(int, i));
      const auto text = entry ? entry->property("text").toString() : QString();
      list << (text.isEmpty() ? "-" : text);
    }
    return list;
  }
  void trigger(const char* name) { QMetaObject::invokeMethod(item(name), "trigger"); }
  // The views go before the model they read.
  void TearDown() override {
    bar.reset();
    ActionsTest::TearDown();
  }

  QQmlEngine engine;
  std::unique_ptr<QQmlComponent> component;
  std::unique_ptr<QObject> bar;
};

TEST_F(MenuBarTest, TheMenusHoldTheirItemsInOrder) {
  ASSERT_NO_FATAL_FAILURE(load());
  EXPECT_EQ(texts("resultMenu"), (QStringList{"Open", "Quick Look", "Show in Folder",
                                              "More Like This", "Search This Region", "Copy Path",
                                              "Copy Path and Time", "-", "Export Markers…"}));
  EXPECT_EQ(texts("libraryMenu"), (QStringList{"Pause Indexing", "Find Duplicates…"}));
  EXPECT_EQ(texts("helpMenu"), (QStringList{"Quillmere Help", "Privacy", "-", "Check for Updates…",
                                            "About Quillmere"}));
  EXPECT_EQ(item("open")->property("shortcut").toString(), "Ctrl+Down");
  EXPECT_EQ(item("copyPath")->property("shortcut").toString(), "Ctrl+Alt+C");
  EXPECT_EQ(item("settings")->property("shortcut").toString(), "Ctrl+,");
}

TEST_F(MenuBarTest, ResultItemsWaitForASelectionAndExportOnlyForResults) {
  makeLibrary();
  model().search()->select(std::nullopt);
  ASSERT_NO_FATAL_FAILURE(load());
  for (const auto* name :
       {"open", "quickLook", "showInFolder", "moreLikeThis", "searchRegion", "copyPath"}) {
    EXPECT_FALSE(enabled(name)) << name;
  }
  EXPECT_TRUE(enabled("exportMarkers"));

  model().search()->select(model().search()->results()->results().front().frameID);
  for (const auto* name :
       {"open", "quickLook", "showInFolder", "moreLikeThis", "searchRegion", "copyPath"}) {
    EXPECT_TRUE(enabled(name)) << name;
  }
  QSignalSpy peek(&AppCommands::shared(), &AppCommands::togglePeek);
  QSignalSpy open(&AppCommands::shared(), &AppCommands::openSelected);
  trigger("quickLook");
  trigger("open");
  EXPECT_EQ(peek.count(), 1);
  EXPECT_EQ(open.count(), 1);

  // Not again while an export is being saved.
  QSignalSpy finished(&actions(), &Actions::exportFinished);
  trigger("exportMarkers");
  actions().saveExport(
      QUrl::fromLocalFile(QString::fromStdString((temp->path() / "m.csv").string())));
  EXPECT_FALSE(enabled("exportMarkers"));
  ASSERT_TRUE(finished.wait(answerWait));
  EXPECT_TRUE(enabled("exportMarkers"));

  QSignalSpy applied(model().search(), &SearchModel::searchApplied);
  model().search()->setKindFilter(SearchModel::KindFilter::Photos);
  ASSERT_TRUE(applied.wait(answerWait));
  QSignalSpy asked(&actions(), &Actions::exportAsked);
  trigger("exportMarkers");
  EXPECT_EQ(asked.count(), 0);
  EXPECT_EQ(model().notice(),
            "There are no video results to export. Search for a moment in your videos first.");

  model().search()->setQuery(" ");
  ASSERT_TRUE(waitFor([&] { return model().search()->results()->rowCount() == 0; }));
  EXPECT_FALSE(enabled("exportMarkers"));
  EXPECT_FALSE(enabled("open"));
}

TEST_F(MenuBarTest, CommandsGoOutAndIndexingPausesAndResumes) {
  ASSERT_NO_FATAL_FAILURE(load());
  QSignalSpy search(&AppCommands::shared(), &AppCommands::focusSearch);
  QSignalSpy duplicates(&AppCommands::shared(), &AppCommands::showDuplicates);
  QSignalSpy settings(&AppCommands::shared(), &AppCommands::showSettings);
  trigger("findMoment");
  trigger("findDuplicates");
  trigger("settings");
  EXPECT_EQ(search.count(), 1);
  EXPECT_EQ(duplicates.count(), 1);
  EXPECT_EQ(settings.count(), 1);

  // Paused before there is anything to do, the next run waits for the user.
  trigger("pauseIndexing");
  const auto folder = makeFolder("Photos");
  addPhotos(folder, 2);
  model().folders()->addFolder(folder);
  ASSERT_TRUE(waitFor([&] { return model().indexing()->pausedByUser(); }));
  EXPECT_EQ(item("pauseIndexing")->property("text").toString(), "Resume Indexing");
  trigger("pauseIndexing");
  ASSERT_TRUE(waitFor([&] { return !model().indexing()->pausedByUser(); }));
  EXPECT_EQ(item("pauseIndexing")->property("text").toString(), "Pause Indexing");
  waitIdle();
  EXPECT_EQ(model().folders()->totals().indexed, 2);

  trigger("showVideos");
  EXPECT_EQ(model().search()->kindFilter(), SearchModel::KindFilter::Videos);
}

}  // namespace
}  // namespace quillmere::test
