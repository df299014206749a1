// SPDX-License-Identifier: GPL-3.0-or-later
// Adding, removing and resolving folders through the model: the outcome it reports, the
// folder list it publishes and the notice it shows. The rules themselves are the engine's
// (FolderRules); these check that the model follows them.
#include <QtTest/QSignalSpy>
#include <algorithm>
#include <future>
#include <set>
#include <string>

#include "AppFixture.h"
#include "SerialQueue.h"
#include "index/SQLite.h"
#include "model/Embedder.h"

namespace quillmere::test {
namespace {

using AppConcurrency = AppTest;

struct AddCase {
  std::string name;
  std::vector<std::string> before;  // added first, in order
  std::string add;
  FolderRules::Outcome outcome;
  std::vector<std::string> listed;  // the folder list afterwards
  std::string message;              // the start of the failure text
  bool unplugged = false;           // the folders added first are gone from the disk
};

class AddFolderTest : public AppTest, public ::testing::WithParamInterface<AddCase> {};
using AddFolderConcurrency = AddFolderTest;

TEST_P(AddFolderConcurrency, ReportsTheOutcomeAndListsTheFolders) {
  const auto& c = GetParam();
  for (const auto& dir : {"Photos/2024", "Photos/a", "Photos/b", "Photos 2"}) makeFolder(dir);
  addPhotos(temp->path() / "Photos", 1, "x");
  for (const auto& name : c.before) {
    ASSERT_EQ(model().folders()->addFolder(temp->path() / name).outcome,
              FolderRules::Outcome::added);
  }
  if (c.unplugged) {
    for (const auto& name : c.before) std::filesystem::remove_all(temp->path() / name);
  }
  QSignalSpy notices(&model(), &AppModel::noticeChanged);
  const auto result = model().folders()->addFolder(temp->path().string() + "/" + c.add);
  EXPECT_EQ(result.outcome, c.outcome);
  EXPECT_TRUE(result.message.starts_with(c.message)) << result.message;
  std::vector<std::string> listed;
  for (const auto& folder : model().folders()->list()->folders()) {
    EXPECT_TRUE(folder.online || c.unplugged) << folder.root.path;
    listed.push_back(std::filesystem::path(folder.root.path).lexically_relative(temp->path()));
  }
  EXPECT_EQ(listed, c.listed);
  EXPECT_EQ(model().folders()->list()->rowCount(), static_cast<int>(c.listed.size()));
  EXPECT_EQ(notices.count(), 0);  // addFolder reports; only handleAdd shows a notice
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AddFolderConcurrency,
    ::testing::Values(
        AddCase{
            "SameTwice", {"Photos"}, "Photos", FolderRules::Outcome::alreadyIncluded, {"Photos"}},
        AddCase{
            "Inside", {"Photos"}, "Photos/2024", FolderRules::Outcome::alreadyIncluded, {"Photos"}},
        AddCase{"TrailingSlash",
                {"Photos"},
                "Photos/",
                FolderRules::Outcome::alreadyIncluded,
                {"Photos"}},
        AddCase{
            "DotDot", {"Photos"}, "Photos/a/..", FolderRules::Outcome::alreadyIncluded, {"Photos"}},
        AddCase{"SameWhileUnplugged",
                {"Photos"},
                "Photos",
                FolderRules::Outcome::alreadyIncluded,
                {"Photos"},
                "",
                true},
        AddCase{"ParentOfTwo",
                {"Photos/a", "Photos/b"},
                "Photos",
                FolderRules::Outcome::added,
                {"Photos"}},
        AddCase{"SiblingWithLongerName",
                {"Photos"},
                "Photos 2",
                FolderRules::Outcome::added,
                {"Photos", "Photos 2"}},
        AddCase{"APhotoIsNoFolder",
                {},
                "Photos/x0.jpg",
                FolderRules::Outcome::failed,
                {},
                "Not a folder: "},
        AddCase{"Missing",
                {"Photos"},
                "Elsewhere",
                FolderRules::Outcome::failed,
                {"Photos"},
                "Folder not found: "}),
    [](const auto& info) { return info.param.name; });

TEST_F(AppConcurrency, AFileDroppedAsAFolderIsShownAsTheNotice) {
  const auto folder = makeFolder("Photos");
  addPhotos(folder, 1);
  model().folders()->handleAdd(QString::fromStdString((folder / "p0.jpg").string()));
  EXPECT_EQ(model().notice().toStdString(), "Not a folder: " + (folder / "p0.jpg").string());
  EXPECT_EQ(model().folders()->list()->rowCount(), 0);

  // A folder dialog may offer the file manager's remote places too.
  model().folders()->handleAddUrl(QUrl("sftp://nas.local/photos"));
  EXPECT_EQ(
      model().notice(),
      "sftp://nas.local/photos can't be added: Quillmere adds folders on this computer only.");
  // Or dropped on the window from a file manager's remote place.
  model().drop({QUrl("smb://nas.local/share")});
  EXPECT_EQ(model().notice(),
            "smb://nas.local/share can't be added: Quillmere adds folders on this computer only.");
  model().folders()->handleAddUrl(QUrl::fromLocalFile(QString::fromStdString(folder.string())));
  EXPECT_EQ(model().folders()->list()->rowCount(), 1);
}

TEST_F(AppConcurrency, AParentReplacesNestedFoldersAndIndexesTheirFilesUnderItself) {
  const auto a = makeFolder("Photos/a");
  const auto b = makeFolder("Photos/b");
  addPhotos(a, 2, "a");
  addPhotos(b, 3, "b");
  addIndexed(a);
  addIndexed(b);
  ASSERT_EQ(model().folders()->totals().indexed, 5);
  const auto parent = addIndexed(temp->path() / "Photos");
  ASSERT_EQ(model().folders()->list()->rowCount(), 1);
  const auto& folder = model().folders()->list()->folders().front();
  EXPECT_EQ(folder.root.id, parent);
  EXPECT_EQ(folder.files, 5);
  EXPECT_EQ(folder.indexed, 5);
  EXPECT_EQ(model().folders()->totals().files, 5);
}

TEST_F(AppConcurrency, RemovingTheFilteredFolderClearsTheFilterAndSearchesAgain) {
  const auto a = makeFolder("A");
  const auto b = makeFolder("B");
  addPhotos(a, 3, "a");
  addPhotos(b, 3, "b");
  const auto first = addIndexed(a);
  const auto second = addIndexed(b);
  search("green");
  ASSERT_EQ(model().search()->results()->rowCount(), 6);
  QSignalSpy applied(model().search(), &SearchModel::searchApplied);
  model().search()->setFolderFilter(first);
  ASSERT_TRUE(applied.wait(answerWait));
  ASSERT_EQ(model().search()->results()->rowCount(), 3);

  QSignalSpy filter(model().search(), &SearchModel::folderFilterChanged);
  model().folders()->removeFolder(first);
  EXPECT_EQ(model().search()->folderFilter(), std::nullopt);
  EXPECT_EQ(filter.count(), 1);
  ASSERT_TRUE(applied.wait(answerWait));
  EXPECT_EQ(model().search()->results()->rowCount(), 3);
  for (const auto& result : model().search()->results()->results())
    EXPECT_EQ(result.file.rootID, second);
  EXPECT_EQ(model().folders()->list()->rowCount(), 1);
}

TEST_F(AppConcurrency, AFolderWhoseDirectoryWentAwayIsOfflineAndItsResultsStay) {
  const auto folder = makeFolder("Photos");
  addPhotos(folder, 2);
  addIndexed(folder);
  const auto file = model().library()->allFiles().front();
  ASSERT_TRUE(model().folders()->isOnline(file));
  EXPECT_EQ(model().folders()->filePath(file), folder / file.relPath);
  std::filesystem::rename(folder, temp->path() / "Gone");
  model().folders()->volumesChanged();
  EXPECT_FALSE(model().folders()->isOnline(file));
  EXPECT_EQ(model().folders()->filePath(file), std::nullopt);
  ASSERT_TRUE(model().folders()->folder(file));
  EXPECT_FALSE(model().folders()->folder(file)->online);
  EXPECT_EQ(model().folders()->folder(file)->indexed, 2);
  EXPECT_EQ(model().folders()->reachablePath(model().library()->roots().front()), std::nullopt);
}

TEST_F(AppConcurrency, RemovingAFolderWhileItIsIndexedLeavesTheOthersIndexed) {
  const auto a = makeFolder("A");
  const auto b = makeFolder("B");
  addPhotos(a, 56, "a");  // older than B's: indexed after them, in several batches
  addPhotos(b, 24, "b");
  model().folders()->addFolder(a);
  const auto kept = model().folders()->addFolder(b).root->id;
  model_.reset();  // started again: one run over both folders, which nothing else wakes
  // The files the indexer names as in work, before and after the folder goes.
  bool removed = false;
  std::set<std::string> before, after;
  QObject::connect(&model(), &AppModel::progressChanged, &model(), [&] {
    const auto& current = model().progress().current;
    if (current) (removed ? after : before).insert(*current);
  });
  ASSERT_TRUE(
      waitFor([&] { return model().progress().phase.kind == Indexer::Phase::Kind::indexing; }));
  model().folders()->removeFolder(model().folders()->list()->folders().front().root.id);
  removed = true;
  waitIdle();
  // At most the batch the indexer had already taken up.
  EXPECT_LE(std::count_if(after.begin(), after.end(),
                          [&](const std::string& name) {
                            return !before.contains(name) && name.starts_with("a");
                          }),
            1);
  EXPECT_EQ(model().folders()->list()->rowCount(), 1);
  EXPECT_EQ(model().folders()->totals().files, 24);
  EXPECT_EQ(model().folders()->totals().failed, 0);
  EXPECT_EQ(model().folders()->totals().indexed, 24);
  for (const auto& file : model().library()->files(kept)) {
    EXPECT_EQ(file.state, FileState::indexed) << file.relPath << ": " << file.error.value_or("");
  }
}

TEST_F(AppConcurrency, WhileAnotherProcessWritesTheLibraryTheAppSearchesAndWritesNothing) {
  const auto folder = makeFolder("Photos");
  addPhotos(folder, 3);
  addIndexed(folder);
  const auto url = *setup().libraryPath;
  // While the app holds the library, an indexing command line is refused.
  EXPECT_THROW(LibraryLock{url}, LibraryLock::Busy);
  model_.reset();

  std::optional<LibraryLock> commandLine(std::in_place, url);
  model_ = std::make_unique<AppModel>(setup());
  ASSERT_TRUE(model().ready()) << model().startupError().toStdString();
  EXPECT_TRUE(model().notice().startsWith("Another Quillmere process is indexing this library"));
  EXPECT_EQ(model().indexer(), nullptr);
  search("red");
  EXPECT_EQ(model().search()->results()->rowCount(), 3);
  const auto added = model().folders()->addFolder(makeFolder("More"));
  EXPECT_EQ(added.outcome, FolderRules::Outcome::failed);
  EXPECT_EQ(added.message,
            "Another Quillmere process is indexing this library. Add the folder when it is done.");
  EXPECT_EQ(model().folders()->list()->rowCount(), 1);

  // Once it is done, the next start writes again.
  model_.reset();
  commandLine.reset();
  model_ = std::make_unique<AppModel>(setup());
  EXPECT_NE(model().indexer(), nullptr);
  EXPECT_EQ(model().folders()->addFolder(temp->path() / "More").outcome,
            FolderRules::Outcome::added);
}

TEST_F(AppConcurrency, AnOlderLibraryIsUpgradedOffTheGuiThreadThenStartUpGoesOn) {
  const auto folder = makeFolder("Photos");
  addPhotos(folder, 3);
  addIndexed(folder);
  model_.reset();
  const auto url = *setup().libraryPath;
  // Back to the first schema: each thumbnail in its frame's row.
  SQLite(url.string())
      .exec(
          "ALTER TABLE frames ADD COLUMN thumb BLOB;"
          "UPDATE frames SET thumb=(SELECT jpeg FROM thumbs WHERE frame_id=frames.id);"
          "DROP TABLE thumbs; UPDATE meta SET value='1' WHERE key='schema';");
  ASSERT_TRUE(Library::isOlder(url));

  SerialQueue queue("quillmere.upgrade");
  std::promise<void> go;
  queue.post([held = go.get_future().share()] { held.wait(); });
  auto parts = setup();
  parts.upgradeQueue = &queue;
  model_ = std::make_unique<AppModel>(parts);
  // Start-up returned with the upgrade still to come, and says so.
  EXPECT_TRUE(model().upgrading());
  EXPECT_FALSE(model().ready());
  EXPECT_EQ(model().upgradeProgress(), -1);
  // A launch's folder and text given meanwhile wait for the library.
  model().open({QUrl::fromLocalFile(QString::fromStdString(makeFolder("Later").string()))}, "red");
  go.set_value();
  ASSERT_TRUE(waitFor([this] { return !model().upgrading(); }));
  ASSERT_TRUE(model().ready()) << model().startupError().toStdString();
  EXPECT_EQ(model().upgradeProgress(), 1);
  EXPECT_FALSE(Library::isOlder(url));
  // The folder dropped meanwhile was added once the library was open.
  EXPECT_EQ(model().folders()->list()->rowCount(), 2);
  waitIdle();
  ASSERT_TRUE(waitFor([this] { return model().search()->searchedQuery() == "red"; }));
  EXPECT_EQ(model().search()->results()->rowCount(), 3);
  model_.reset();
}

TEST_F(AppConcurrency, WithoutAModelDirectoryTheModelIsNotReady) {
  auto broken = setup();
  broken.modelDirectory = temp->path() / "NoModel";
  AppModel model(broken);
  EXPECT_FALSE(model.ready());
  EXPECT_EQ(model.startupError().toStdString(),
            "The search model is incomplete (model.json is missing). Reinstall Quillmere.");
  const auto result = model.folders()->addFolder(temp->path());
  EXPECT_EQ(result.outcome, FolderRules::Outcome::failed);
  EXPECT_EQ(result.message, "Quillmere isn't ready.");
  model.search()->setQuery("red");
  QSignalSpy started(model.search(), &SearchModel::searchStarted);
  EXPECT_FALSE(started.wait(200));
}

TEST_F(AppConcurrency, ALibraryOfAnotherModelKeepsItsFramesUntilTheUserIndexesAgain) {
  const auto url = temp->path() / "Library.sqlite";
  const auto folder = makeFolder("Photos");
  addPhotos(folder, 1);
  const Embedder embedder(modelDirectory());
  const auto dim = embedder.info().dim;
  {
    Library other(url, dim, "other-model@224");
    const auto root =
        other.addRoot(folder.string(), std::nullopt, std::nullopt, std::nullopt, false);
    other.applyScan(root.id, {ScannedFile{"p0.jpg", MediaKind::photo, 100, 1}});
    other.saveFrames(other.allFiles().front(),
                     {FrameRecord{0, std::vector<Half>(dim, halfFromFloat(0.5f))}}, 0, 10, 10);
  }
  {
    AppModel asking(setup());
    EXPECT_FALSE(asking.ready());
    EXPECT_EQ(asking.startupError(), "");
    EXPECT_EQ(asking.modelChange().toStdString(),
              "The library was indexed with other-model@224; using " + embedder.info().signature() +
                  " means indexing every file again.");
  }
  {
    const Library untouched(url, dim, "other-model@224", Library::Opening::readOnly);
    EXPECT_EQ(untouched.totals().frames, 1);
  }
  auto& agreed = model();
  QSignalSpy ready(&agreed, &AppModel::readyChanged);
  agreed.indexAgain();
  EXPECT_TRUE(agreed.ready());
  EXPECT_EQ(ready.count(), 1);
  EXPECT_EQ(agreed.modelChange(), "");
  ASSERT_EQ(agreed.folders()->list()->rowCount(), 1);
  waitIdle();
  EXPECT_EQ(agreed.folders()->totals().indexed, 1);  // indexed again with this model
}

TEST_F(AppConcurrency, ABurstOfIndexedFilesRefreshesAtMostOncePerInterval) {
  const auto folder = makeFolder("Photos");
  addPhotos(folder, 24);
  const auto later = makeFolder("Later");
  addPhotos(later, 6, "l");
  search("green");  // nothing indexed yet: no results, but a query to re-run
  QSignalSpy refreshed(&model(), &AppModel::indexedFilesRefreshed);
  QSignalSpy started(model().search(), &SearchModel::searchStarted);
  std::vector<std::chrono::steady_clock::time_point> times;
  std::vector<int> searchesAtRefresh;
  QObject::connect(&model(), &AppModel::indexedFilesRefreshed, [&] {
    times.push_back(std::chrono::steady_clock::now());
    searchesAtRefresh.push_back(static_cast<int>(started.count()));
  });
  // The first answer's last frame is selected, away from where a new search would select.
  std::optional<std::int64_t> chosen;
  QObject::connect(model().search(), &SearchModel::searchApplied, [&] {
    const auto& results = model().search()->results()->results();
    if (chosen || results.size() < 2) return;
    chosen = results.back().frameID;
    model().search()->select(*chosen);
  });
  QSignalSpy resets(model().search()->results(), &QAbstractItemModel::modelReset);
  const auto index = [&](const std::filesystem::path& added) {
    model().folders()->addFolder(added);
    waitIdle();
    // The last batch's refresh comes at most one interval after it.
    QTest::qWait(static_cast<int>(AppModel::refreshInterval.count()) + 300);
  };
  index(folder);
  ASSERT_GE(refreshed.count(), 1);
  EXPECT_EQ(model().search()->results()->rowCount(), 24);
  ASSERT_TRUE(chosen);

  // The re-runs while more files are indexed keep the selection and the grid's rows.
  const auto searches = started.count();
  QSignalSpy selections(model().search(), &SearchModel::selectionChanged);
  index(later);
  EXPECT_GT(started.count(), searches);
  EXPECT_EQ(model().search()->results()->rowCount(), 30);
  EXPECT_EQ(model().search()->selection(), chosen);
  EXPECT_EQ(selections.count(), 0);
  EXPECT_EQ(resets.count(), 0);
  for (std::size_t i = 1; i < times.size(); ++i) {
    EXPECT_GE(times[i] - times[i - 1], AppModel::refreshInterval - std::chrono::milliseconds(20));
  }
  // One search re-run per refresh, none between them.
  EXPECT_LE(started.count(), refreshed.count());
}

}  // namespace
}  // namespace quillmere::test
