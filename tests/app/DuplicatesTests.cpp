// SPDX-License-Identifier: GPL-3.0-or-later
// The duplicates window's model over a real library: exact copies and near copies of the
// wallpapers made with vips, indexed with the demo model, found, marked and moved to a real
// freedesktop Trash under a temporary $XDG_DATA_HOME.
#include <QAccessible>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

#include "AppFixture.h"
#include "DuplicatesModel.h"
#include "support/MediaFactory.h"

namespace quillmere::test {
namespace {

class DuplicatesTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    savedDataHome_ = qgetenv("XDG_DATA_HOME");
    hadDataHome_ = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    dataHome_ = temp->path() / "data";
    std::filesystem::create_directories(dataHome_);
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(dataHome_.string()));
  }

  void TearDown() override {
    duplicates_.reset();
    AppTest::TearDown();
    if (hadDataHome_) {
      qputenv("XDG_DATA_HOME", savedDataHome_);
    } else {
      qunsetenv("XDG_DATA_HOME");
    }
  }

  DuplicatesModel& duplicates() {
    if (!duplicates_) {
      duplicates_ = std::make_unique<DuplicatesModel>();
      duplicates_->setFolders(model().folders());
      duplicates_->setIndexing(model().indexing());
      QObject::connect(duplicates_.get(), &DuplicatesModel::noticed, &model(),
                       &AppModel::setNotice);
    }
    return *duplicates_;
  }

  // Starts a search (or waits for the one under way) and waits for its answer.
  void findNow() {
    QSignalSpy applied(&duplicates(), &DuplicatesModel::groupsApplied);
    duplicates().find();
    ASSERT_TRUE(applied.wait(answerWait));
  }

  // A larger re-encoding of the photo: the same picture, another file.
  static void enlarged(const std::filesystem::path& from, const std::filesystem::path& to,
                       double scale) {
    runCommand("vips resize " + shellQuoted(from) + " " + shellQuoted(to.string() + "[Q=85]") +
               " " + std::to_string(scale));
  }

  // The photo with its brightness scaled.
  static void brightened(const std::filesystem::path& from, const std::filesystem::path& to,
                         double factor) {
    runCommand("vips linear " + shellQuoted(from) + " " + shellQuoted(to.string() + "[Q=90]") +
               " " + std::to_string(factor) + " 0");
  }

  const DuplicateFinder::Group* groupWith(const std::string& name) {
    for (const auto& group : duplicates().groups()) {
      for (const auto& file : group.files) {
        if (file.name() == name) return &group;
      }
    }
    return nullptr;
  }

  // A brightness factor that leaves a shot near its original but not the same picture.
  static constexpr double darker = 0.85;

  std::filesystem::path dataHome_;
  QByteArray savedDataHome_;
  bool hadDataHome_ = false;
  std::unique_ptr<DuplicatesModel> duplicates_;
};

TEST_F(DuplicatesTest, ExactCopiesArePreMarkedSummarisedAndToggled) {
  const auto folder = makeFolder("Photos");
  std::filesystem::copy_file(photos[0], folder / "beach.jpg");
  std::filesystem::copy_file(photos[0], folder / "beach copy.jpg");
  enlarged(photos[0], folder / "beach large.jpg", 1.5);
  for (std::size_t i = 1; i < 5; ++i) {
    std::filesystem::copy_file(photos[i], folder / ("other" + std::to_string(i) + ".jpg"));
  }
  addIndexed(folder);
  EXPECT_EQ(duplicates().summary(), "");
  findNow();

  const auto* group = groupWith("beach copy.jpg");
  ASSERT_NE(group, nullptr);
  ASSERT_EQ(group->files.size(), 3u);
  EXPECT_EQ(group->files.front().name(), "beach large.jpg") << "the largest copy is kept";
  EXPECT_EQ(DuplicatesModel::title(*group), "Same photo · 3 copies");
  std::set<std::int64_t> copies;
  qint64 bytes = 0;
  for (std::size_t i = 1; i < group->files.size(); ++i) {
    copies.insert(group->files[i].id);
    bytes += group->files[i].size;
  }
  EXPECT_EQ(duplicates().marked(), copies) << "every copy but the one kept";
  EXPECT_FALSE(duplicates().isMarked(group->files.front().id));
  EXPECT_EQ(duplicates().markedBytes(), bytes);
  EXPECT_EQ(duplicates().summary(),
            QString("%1 group%2 · 2 to remove · %3 to free")
                .arg(duplicates().rowCount())
                .arg(duplicates().rowCount() == 1 ? "" : "s")
                .arg(QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat)));
  EXPECT_TRUE(duplicates().canTrash());

  // The model's rows say the same as its groups.
  const auto row = duplicates().index(0);
  EXPECT_EQ(row.data(DuplicatesModel::TitleRole).toString(), DuplicatesModel::title(*group));
  const auto tiles = row.data(DuplicatesModel::FilesRole).toList();
  ASSERT_EQ(tiles.size(), 3);
  EXPECT_TRUE(tiles[0].toMap()["isBest"].toBool());
  EXPECT_GT(tiles[0].toMap()["frameId"].toLongLong(), 0) << "a picture to show";

  for (std::int64_t id : copies) duplicates().toggle(id);
  EXPECT_EQ(duplicates().markedCount(), 0);
  EXPECT_EQ(duplicates().markedBytes(), 0);
  EXPECT_FALSE(duplicates().canTrash());
  duplicates().toggle(group->files.front().id);
  EXPECT_TRUE(duplicates().isMarked(group->files.front().id)) << "the best copy can be marked";
  EXPECT_TRUE(duplicates().canTrash());
}

TEST_F(DuplicatesTest, ABurstChainedByExactNeighboursIsTheSamePhotoWithItsCopiesPreMarked) {
  const auto folder = makeFolder("Burst");
  // Each shot a little darker than the one before: neighbours are alike, the ends are not.
  const int shots = 12;
  for (int i = 0; i < shots; ++i) {
    brightened(photos[1], folder / ("shot" + std::to_string(i) + ".jpg"), 1.0 - 0.06 * i);
  }
  addIndexed(folder);
  duplicates().setIncludeSimilar(false);  // exact pairs only: the chain's links
  QSignalSpy applied(&duplicates(), &DuplicatesModel::groupsApplied);
  ASSERT_TRUE(applied.wait(answerWait));

  const auto* group = groupWith("shot0.jpg");
  ASSERT_NE(group, nullptr);
  ASSERT_GE(group->similarity, DuplicateFinder::exact) << "linked by exact pairs only";
  const auto lowest = *std::min_element(group->similarities.begin(), group->similarities.end());
  ASSERT_LT(lowest, DuplicateFinder::exact) << "the burst must hold shots unlike the kept one";
  // As the command line words it: the group's lowest linking pair decides.
  EXPECT_EQ(DuplicatesModel::title(*group),
            QString("Same photo · %1 copies").arg(group->files.size()));
  for (std::size_t i = 1; i < group->files.size(); ++i) {
    EXPECT_TRUE(duplicates().isMarked(group->files[i].id))
        << group->files[i].name() << " at " << group->similarities[i];
  }
  EXPECT_FALSE(duplicates().isMarked(group->files.front().id));
}

TEST_F(DuplicatesTest, TrashMovesTheMarkedFileAndTheLibraryForgetsItBeforeTheNextSearch) {
  const auto folder = makeFolder("Photos");
  std::filesystem::copy_file(photos[0], folder / "keep.jpg");
  std::filesystem::copy_file(photos[0], folder / "copy.jpg");
  std::filesystem::copy_file(photos[1], folder / "other.jpg");
  // A second folder, later unplugged, with a copy of its own.
  const auto drive = makeFolder("Drive");
  std::filesystem::copy_file(photos[2], drive / "far.jpg");
  std::filesystem::copy_file(photos[2], drive / "far copy.jpg");
  addIndexed(folder);
  addIndexed(drive);
  findNow();
  const auto* pair = groupWith("copy.jpg");
  ASSERT_NE(pair, nullptr);
  const MediaFile copy = pair->files.at(1);  // of two equal files, either may be kept
  const MediaFile kept = pair->files.at(0);
  const auto copyID = copy.id;
  ASSERT_TRUE(duplicates().isMarked(copyID));
  ASSERT_EQ(duplicates().markedCount(), 2);
  std::filesystem::rename(drive, temp->path() / "Unplugged");
  model().folders()->volumesChanged();

  QSignalSpy answered(&duplicates(), &DuplicatesModel::trashAnswered);
  QSignalSpy applied(&duplicates(), &DuplicatesModel::groupsApplied);
  duplicates().trash();
  EXPECT_TRUE(duplicates().trashing());
  EXPECT_FALSE(duplicates().canTrash()) << "no second press before the Trash answers";
  ASSERT_TRUE(answered.wait(answerWait));
  EXPECT_EQ(model().notice(),
            "Moved 1 photo to the Trash. 1 photo left where it is: its drive is not connected.");
  const auto trashed = dataHome_ / "Trash" / "files" / copy.relPath;
  EXPECT_TRUE(std::filesystem::exists(trashed));
  EXPECT_TRUE(
      std::filesystem::exists(dataHome_ / "Trash" / "info" / (copy.relPath + ".trashinfo")));
  EXPECT_FALSE(std::filesystem::exists(folder / copy.relPath));
  EXPECT_TRUE(std::filesystem::exists(folder / kept.relPath));
  EXPECT_TRUE(std::filesystem::exists(temp->path() / "Unplugged" / "far copy.jpg"));
  EXPECT_FALSE(duplicates().canTrash()) << "nor while the next search waits";

  ASSERT_TRUE(applied.wait(answerWait));
  EXPECT_FALSE(model().library()->file(copyID)) << "searched before the rescan";
  EXPECT_EQ(groupWith(copy.name()), nullptr) << "the moved file came back";
  EXPECT_EQ(groupWith(kept.name()), nullptr) << "alone now";
  EXPECT_NE(groupWith("far copy.jpg"), nullptr) << "the unplugged drive's copies stay listed";
}

TEST_F(DuplicatesTest, ASupersededSearchIsDroppedAndTrashWaitsForTheNewest) {
  const auto folder = makeFolder("Photos");
  std::filesystem::copy_file(photos[0], folder / "a.jpg");
  std::filesystem::copy_file(photos[0], folder / "b.jpg");
  // A darker shot: near the original, not the same picture.
  brightened(photos[0], folder / "dusk.jpg", darker);
  addIndexed(folder);
  std::size_t nearGroups = 0;
  for (const auto& group : DuplicateFinder::find(*model().library(), DuplicateFinder::near))
    nearGroups += group.files.size() == 3 ? 1 : 0;
  ASSERT_EQ(nearGroups, 1u) << "the darker shot must be a near-duplicate";
  QSignalSpy applied(&duplicates(), &DuplicatesModel::groupsApplied);
  duplicates().find();                    // with near-duplicates: finds the darker shot
  duplicates().setIncludeSimilar(false);  // supersedes it
  EXPECT_TRUE(duplicates().working());
  // The queue answers in order: were the first answer applied, it would come first.
  ASSERT_TRUE(applied.wait(answerWait));
  EXPECT_EQ(groupWith("dusk.jpg"), nullptr) << "the superseded search's answer was applied";
  ASSERT_NE(groupWith("a.jpg"), nullptr);
  EXPECT_FALSE(duplicates().working());
  EXPECT_TRUE(duplicates().canTrash());

  duplicates().find();
  EXPECT_FALSE(duplicates().canTrash()) << "disabled while a search runs";
  duplicates().trash();
  EXPECT_FALSE(duplicates().trashing());
  ASSERT_TRUE(applied.wait(answerWait));
  EXPECT_TRUE(std::filesystem::exists(folder / "a.jpg"));
  EXPECT_TRUE(std::filesystem::exists(folder / "b.jpg"));
}

// Items under the window's content whose QML type has the given name.
void collect(QQuickItem* item, const char* type, std::vector<QQuickItem*>& found) {
  if (QString(item->metaObject()->className()).startsWith(type)) found.push_back(item);
  for (QQuickItem* child : item->childItems()) collect(child, type, found);
}

std::vector<QQuickItem*> itemsOf(QQuickWindow* window, const char* type) {
  std::vector<QQuickItem*> found;
  collect(window->contentItem(), type, found);
  return found;
}

TEST_F(DuplicatesTest, TheWindowShowsEachGroupWithItsTitleAndTiles) {
  const auto folder = makeFolder("Photos");
  std::filesystem::copy_file(photos[1], folder / "beach.jpg");
  std::filesystem::copy_file(photos[1], folder / "beach copy.jpg");
  enlarged(photos[1], folder / "beach large.jpg", 1.5);
  std::filesystem::copy_file(photos[0], folder / "hills.jpg");
  brightened(photos[0], folder / "hills dusk.jpg", darker);
  std::filesystem::copy_file(photos[2], folder / "alone.jpg");
  addIndexed(folder);

  QQmlEngine engine;
  QQmlComponent component(&engine, QUrl("qrc:/Quillmere/qml/DuplicatesWindow.qml"));
  std::unique_ptr<QObject> object(
      component.createWithInitialProperties({{"app", QVariant::fromValue(&model())}}));
  ASSERT_TRUE(object) << component.errorString().toStdString();
  auto* window = qobject_cast<QQuickWindow*>(object.get());
  ASSERT_NE(window, nullptr);
  auto* model = object->property("duplicates").value<DuplicatesModel*>();
  ASSERT_NE(model, nullptr);
  QSignalSpy applied(model, &DuplicatesModel::groupsApplied);
  window->show();
  ASSERT_TRUE(applied.wait(answerWait));
  ASSERT_EQ(model->rowCount(), 2);

  std::vector<QQuickItem*> groups;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return (groups = itemsOf(window, "DuplicateGroup")).size() == 2; }, answerWait))
      << itemsOf(window, "DuplicateGroup").size() << " group views for 2 groups";
  std::set<QString> titles;
  for (QQuickItem* group : groups) {
    titles.insert(group->property("title").toString());
    EXPECT_GT(group->height(), 100) << "a group too short for its photos";
  }
  EXPECT_EQ(titles, (std::set<QString>{"Same photo · 3 copies", "Very similar · 2 photos"}));

  std::vector<QQuickItem*> tiles;
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return (tiles = itemsOf(window, "DuplicateTile")).size() == 5; }, answerWait))
      << tiles.size() << " tiles for 5 photos";
  std::set<QString> names;
  int marked = 0;
  for (QQuickItem* tile : tiles) {
    names.insert(tile->property("file").toMap()["name"].toString());
    marked += tile->property("marked").toBool() ? 1 : 0;
    EXPECT_TRUE(tile->isVisible());
  }
  EXPECT_EQ(names, (std::set<QString>{"beach.jpg", "beach copy.jpg", "beach large.jpg", "hills.jpg",
                                      "hills dusk.jpg"}));
  EXPECT_EQ(marked, 2) << "the two exact copies";

  // Without a mouse: a focused photo is marked and unmarked with Space, and says so.
  QQuickItem* tile = tiles.front();
  tile->forceActiveFocus();
  const bool was = tile->property("marked").toBool();
  QTest::keyClick(window, Qt::Key_Space);
  EXPECT_NE(tile->property("marked").toBool(), was);
  const auto spoken =
      QAccessible::queryAccessibleInterface(window)->focusChild()->text(QAccessible::Name);
  EXPECT_TRUE(spoken.startsWith(tile->property("file").toMap()["name"].toString() + ", "));
  EXPECT_EQ(spoken.endsWith(", kept"), was) << spoken.toStdString();
  EXPECT_EQ(unnamedControls(window), "");
}

}  // namespace
}  // namespace quillmere::test
