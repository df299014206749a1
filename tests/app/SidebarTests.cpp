// SPDX-License-Identifier: GPL-3.0-or-later
// The sidebar as the user sees it: folder rows with their state, and the status
// panel while indexing, paused for each reason, with failed files, and while
// another process indexes. The machine's power and heat readings are real files
// under the test's own system tree. With QUILLMERE_SIDEBAR_SHOTS set to a
// directory, each state is also saved as a picture.
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <fstream>
#include <functional>
#include <memory>

#include "AppFixture.h"
#include "IndexingStatus.h"
#include "index/LibraryLock.h"
#include "scan/Scanner.h"
#include "support/LibraryTestAccess.h"

namespace quillmere::test {
namespace {

void writeFile(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file) << text;
}

// Named and sized like a photo, so that the scanner lists it, but no picture inside.
void writeBroken(const std::filesystem::path& file) {
  writeFile(file, std::string(Scanner::minimumPhotoBytes, 'x'));
}

class SidebarTest : public AppTest {
 protected:
  void load() {
    component = std::make_unique<QQmlComponent>(&engine, QUrl("qrc:/Quillmere/qml/Sidebar.qml"));
    ASSERT_TRUE(component->isReady()) << component->errorString().toStdString();
    window = std::make_unique<QQuickWindow>();
    window->resize(260, 480);
    sidebar.reset(qobject_cast<QQuickItem*>(
        component->createWithInitialProperties({{"app", QVariant::fromValue(&model())}})));
    ASSERT_TRUE(sidebar) << component->errorString().toStdString();
    sidebar->setParentItem(window->contentItem());
    sidebar->setSize(QSizeF(260, 480));
    window->show();
    QTest::qWait(50);
  }
  // The items with this name in the visual tree, in order: the views place
  // their items with parent items, which need not be their QObject parents.
  QList<QQuickItem*> items(const QString& name) const {
    QList<QQuickItem*> found;
    std::function<void(QQuickItem*)> walk = [&](QQuickItem* item) {
      if (item->objectName() == name) found << item;
      for (auto* child : item->childItems()) walk(child);
    };
    walk(window->contentItem());  // popups are drawn in the window's overlay
    return found;
  }
  QQuickItem* item(const QString& name) const {
    const auto list = items(name);
    return list.isEmpty() ? nullptr : list.front();
  }
  // The texts of the visible items with this name.
  QStringList texts(const QString& name) const {
    QStringList list;
    for (auto* item : items(name)) {
      if (item->isVisible()) list << item->property("text").toString();
    }
    return list;
  }
  QString text(const QString& name) const {
    const auto list = texts(name);
    return list.isEmpty() ? QString() : list.front();
  }
  // Whether each folder row's menu item with this name is enabled, in row order.
  QList<bool> menuEnabled(const QString& name) const {
    QList<bool> list;
    for (auto* row : items("folderRow")) {
      auto* action = row->findChild<QObject*>(name);
      list << (action && action->property("enabled").toBool());
    }
    return list;
  }
  bool shows(const QString& name) const {
    auto* found = item(name);
    return found && found->isVisible();
  }
  // Draws the window; saved when the caller asked for pictures.
  void snapshot(const std::string& state) {
    QTest::qWait(50);
    const auto image = window->grabWindow();
    ASSERT_FALSE(image.isNull());
    const auto directory = qEnvironmentVariable("QUILLMERE_SIDEBAR_SHOTS");
    if (!directory.isEmpty())
      image.save(directory + "/sidebar-" + QString::fromStdString(state) + ".png");
  }
  IndexingStatus& status() { return *model().indexing(); }
  // The views go before the model they read.
  void TearDown() override {
    sidebar.reset();
    window.reset();
    AppTest::TearDown();
  }
  std::filesystem::path machine() const { return systemRoot() / "machine"; }

  QQmlEngine engine;
  std::unique_ptr<QQmlComponent> component;
  std::unique_ptr<QQuickWindow> window;
  std::unique_ptr<QQuickItem> sidebar;
};

// With no folder yet the status panel has nothing to say: it must not take the rows' place.
TEST_F(SidebarTest, WithoutFoldersTheRowsKeepTheirPlace) {
  ASSERT_NO_FATAL_FAILURE(load());
  QQuickItem* add = item("addFolder");
  ASSERT_TRUE(add);
  QQuickItem* view = add;
  while (view && !view->inherits("QQuickFlickable")) view = view->parentItem();
  ASSERT_TRUE(view);
  EXPECT_LE(add->mapToItem(view, QPointF(0, add->height())).y(), view->height())
      << "the Add Folder row is cut off";
}

TEST_F(SidebarTest, FolderRowsSayHowManyItemsOrWhyNone) {
  const auto three = makeFolder("Three");
  addPhotos(three, 3);
  const auto one = makeFolder("One");
  addPhotos(one, 1);
  const auto empty = makeFolder("Empty");
  const auto gone = makeFolder("Gone");
  addPhotos(gone, 2);
  addIndexed(three);
  const auto oneID = addIndexed(one);
  addIndexed(empty);
  addIndexed(gone);
  std::filesystem::rename(gone, temp->path() / "Elsewhere");
  model().folders()->resolveFolders();
  ASSERT_NO_FATAL_FAILURE(load());
  EXPECT_EQ(texts("folderName"), (QStringList{"Three", "One", "Empty", "Gone"}));
  EXPECT_EQ(texts("folderSubtitle"), (QStringList{"3 items", "1 item", "No photos or videos",
                                                  QString::fromUtf8("Not connected · drive")}));
  // Only a folder that can be reached can be shown or indexed again.
  EXPECT_EQ(menuEnabled("showFolder"), (QList<bool>{true, true, true, false}));
  EXPECT_EQ(menuEnabled("indexAgain"), (QList<bool>{true, true, true, false}));
  // The photos of the folder that is gone stay in the library.
  EXPECT_EQ(text("idleLine"), QString::fromUtf8("Up to date · 6 items"));
  snapshot("folders");

  // A row narrows the results to its folder; "All Folders" widens them again.
  QMetaObject::invokeMethod(items("folderRow").at(1), "clicked");
  EXPECT_EQ(model().search()->folderFilter(), oneID);
  snapshot("folder-selected");
  QMetaObject::invokeMethod(item("allFolders"), "clicked");
  EXPECT_EQ(model().search()->folderFilter(), std::nullopt);
}

// Shift+F10 opens a folder's menu; its third item asks: Escape cancels, Return removes.
TEST_F(SidebarTest, TheKeyboardOpensAFoldersMenuAndRemovesIt) {
  for (const char* name : {"Keep", "Gone"}) addIndexed(makeFolder(name));
  ASSERT_NO_FATAL_FAILURE(load());
  QQuickItem* row = items("folderRow").value(1);
  auto* dialog = row->findChild<QObject*>("removeDialog");
  const auto ask = [&] {
    row->forceActiveFocus();
    QTest::keyClick(window.get(), Qt::Key_F10, Qt::ShiftModifier);
    for (int item = 0; item < 3; ++item) QTest::keyClick(window.get(), Qt::Key_Down);
    QTest::keyClick(window.get(), Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return dialog->property("opened").toBool(); }, 2000));
  };
  ASSERT_NO_FATAL_FAILURE(ask());
  QTest::keyClick(window.get(), Qt::Key_Escape);
  EXPECT_TRUE(waitFor([&] { return !dialog->property("visible").toBool(); }, 2000));
  ASSERT_NO_FATAL_FAILURE(ask());
  QTest::keyClick(window.get(), Qt::Key_Return);
  EXPECT_EQ(texts("folderName"), QStringList{"Keep"});
  EXPECT_EQ(unnamedControls(window.get()), "");
}

TEST_F(SidebarTest, AFolderPartlyIndexedSaysHowManyAreReady) {
  const auto folder = makeFolder("Half");
  addPhotos(folder, 4);
  addIndexed(folder);
  addPhotos(folder, 6, "q");  // 6 more, found by the next scan
  status().pause();
  model().indexer()->run();
  ASSERT_TRUE(waitFor([&] { return status().pausedByUser(); }));
  model().folders()->refreshTotals();
  ASSERT_NO_FATAL_FAILURE(load());
  EXPECT_EQ(text("folderSubtitle"), "4 of 10 ready");
  EXPECT_EQ(text("statusTitle"), "Paused");
  EXPECT_FALSE(text("statusDetail").contains(QString::fromUtf8(" · ")));
  EXPECT_FALSE(shows("indexAnyway"));
  snapshot("paused-user");
  status().resume();
  waitIdle();
  EXPECT_EQ(model().folders()->totals().indexed, 10);
}

TEST_F(SidebarTest, PowerSaverPausesUntilTheUserIndexesAnyway) {
  writeFile(machine() / "sys/firmware/acpi/platform_profile", "low-power\n");
  const auto folder = makeFolder("Photos");
  addPhotos(folder, 3);
  model().folders()->addFolder(folder);
  ASSERT_TRUE(
      waitFor([&] { return status().pauseReason() == IndexingStatus::PauseReason::LowPower; }));
  ASSERT_NO_FATAL_FAILURE(load());
  EXPECT_EQ(text("statusTitle"), "Paused while Power Saver is on");
  EXPECT_TRUE(shows("indexAnyway"));
  EXPECT_FALSE(text("statusDetail").contains(QString::fromUtf8(" · ")));
  snapshot("paused-power-saver");

  auto* button = item("indexAnyway");
  QMetaObject::invokeMethod(button, "clicked");
  waitIdle();
  EXPECT_EQ(model().folders()->totals().indexed, 3);
  EXPECT_EQ(text("idleLine"), QString::fromUtf8("Up to date · 3 items"));
}

TEST_F(SidebarTest, HeatPausesAndThePauseButtonMakesItTheUsersPause) {
  const auto zone = machine() / "sys/class/thermal/thermal_zone0";
  writeFile(zone / "temp", "95000\n");
  writeFile(zone / "trip_point_0_type", "passive\n");
  writeFile(zone / "trip_point_0_temp", "90000\n");
  const auto folder = makeFolder("Photos");
  addPhotos(folder, 2);
  model().folders()->addFolder(folder);
  ASSERT_TRUE(waitFor([&] { return status().pauseReason() == IndexingStatus::PauseReason::Hot; }));
  ASSERT_NO_FATAL_FAILURE(load());
  EXPECT_EQ(text("statusTitle"), "Paused while the computer cools down");
  EXPECT_FALSE(item("statusTitle")->property("truncated").toBool());
  EXPECT_FALSE(shows("indexAnyway"));
  snapshot("paused-hot");

  QMetaObject::invokeMethod(item("pauseButton"), "clicked");
  ASSERT_TRUE(waitFor([&] { return status().pausedByUser(); }));
  EXPECT_EQ(text("statusTitle"), "Paused");
  std::filesystem::remove_all(zone);
  QMetaObject::invokeMethod(item("pauseButton"), "clicked");
  waitIdle();
  EXPECT_EQ(model().folders()->totals().indexed, 2);
}

TEST_F(SidebarTest, FailedFilesAreListedAndTriedAgain) {
  const auto folder = makeFolder("Photos");
  addPhotos(folder, 2);
  writeBroken(folder / "broken.jpg");
  const auto rootID = addIndexed(folder);
  ASSERT_EQ(model().folders()->totals().failed, 1);
  ASSERT_NO_FATAL_FAILURE(load());
  EXPECT_EQ(text("failedLabel"), "1 file couldn't be read");
  const auto failed = status().failedFiles();
  ASSERT_EQ(failed.size(), 1);
  EXPECT_EQ(failed.front().toMap()["relPath"].toString(), "broken.jpg");
  EXPECT_FALSE(failed.front().toMap()["error"].toString().isEmpty());
  QMetaObject::invokeMethod(item("failedFiles"), "clicked");
  ASSERT_TRUE(waitFor([&] { return item("failedFiles")->property("shown").toBool(); }));
  EXPECT_EQ(texts("failedPath"), QStringList{"broken.jpg"});
  EXPECT_EQ(texts("failedError"), QStringList{failed.front().toMap()["error"].toString()});
  snapshot("failed-files");

  std::filesystem::copy_file(photos.front(), folder / "broken.jpg",
                             std::filesystem::copy_options::overwrite_existing);
  QMetaObject::invokeMethod(item("tryAgain"), "clicked");
  EXPECT_FALSE(item("failedFiles")->property("shown").toBool());
  waitIdle();
  EXPECT_EQ(model().folders()->totals().failed, 0);
  EXPECT_EQ(model().folders()->totals().indexed, 3);
  EXPECT_FALSE(shows("failedFiles"));
  EXPECT_EQ(text("idleLine"), QString::fromUtf8("Up to date · 3 items"));

  // A run the library refused to store says why in place of "Up to date": here its scan's.
  LibraryTestAccess::db(*model().library()).exec("PRAGMA query_only=1");
  addPhotos(folder, 2, "new");
  status().indexAgain(rootID);
  ASSERT_TRUE(waitFor([&] { return status().stopped(); }));
  EXPECT_EQ(text("idleLine").toStdString(), "The library can't be written: the library file in " +
                                                temp->path().string() + " is read-only.");
  snapshot("stopped");
  LibraryTestAccess::db(*model().library()).exec("PRAGMA query_only=0");
  auto stopped = status().progress();

  // Folders a scan could not read are named; their files stay.
  stopped.problem.reset();
  stopped.unreadable = {(folder / "Private").string(), (folder / "Shared").string()};
  status().setProgress(stopped);
  EXPECT_EQ(text("unreadableLine"), "2 folders can't be read; their files are kept");
  EXPECT_EQ(item("unreadableLine")->property("places").toString().toStdString(),
            stopped.unreadable[0] + "\n" + stopped.unreadable[1]);
  snapshot("unreadable-folders");
}

TEST_F(SidebarTest, TheFailedListHoldsTheFirstTwoHundredByPath) {
  const auto folder = makeFolder("Photos");
  for (int i = 0; i < 205; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "bad%03d.jpg", 204 - i);
    writeBroken(folder / name);
  }
  addIndexed(folder);
  ASSERT_EQ(model().folders()->totals().failed, 205);
  const auto failed = status().failedFiles();
  ASSERT_EQ(failed.size(), IndexingStatus::failedListLimit);
  EXPECT_EQ(failed.front().toMap()["relPath"].toString(), "bad000.jpg");
  EXPECT_EQ(failed.back().toMap()["relPath"].toString(), "bad199.jpg");
}

TEST_F(SidebarTest, WhileAnotherProcessIndexesTheNoticeStaysInTheSidebar) {
  const auto folder = makeFolder("Photos");
  addPhotos(folder, 1);
  addIndexed(folder);
  model_.reset();
  LibraryLock other(*setup().libraryPath);
  ASSERT_TRUE(model().ready()) << model().startupError().toStdString();
  model().setNotice("");  // the window's notice goes; the sidebar's stays
  ASSERT_NO_FATAL_FAILURE(load());
  EXPECT_TRUE(status().readOnly());
  EXPECT_EQ(text("readOnlyNotice"), QString::fromUtf8(IndexingStatus::busyNotice));
  snapshot("read-only");
}

TEST_F(SidebarTest, AnEmptyLibraryShowsNothingWhenIdle) {
  ASSERT_NO_FATAL_FAILURE(load());
  ASSERT_EQ(status().phase(), IndexingStatus::Phase::Idle);
  EXPECT_FALSE(shows("idleLine"));
  EXPECT_FALSE(shows("failedFiles"));
  EXPECT_FALSE(shows("statusTitle"));
}

}  // namespace
}  // namespace quillmere::test
