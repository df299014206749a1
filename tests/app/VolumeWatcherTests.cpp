// SPDX-License-Identifier: GPL-3.0-or-later
// The watched mount table, read from a made-up system tree (this machine has no second drive
// to plug in), and the model's folders on its drives: a drive that goes away and comes back
// at another mount point, and another drive with the same name mounted at the same place.
#include <QtTest/QSignalSpy>
#include <cstdlib>
#include <fstream>

#include "AppFixture.h"
#include "VolumeWatcher.h"
#include "platform/FolderBookmark.h"
#include "support/MediaFactory.h"

namespace quillmere::test {
namespace {

TEST(RealMountTableConcurrency, AMountAndAnUnmountAreNoticed) {
  if (std::system("unshare -m --propagation private true 2>/dev/null") != 0) {
    GTEST_SKIP() << "this machine lets no test make a mount namespace";
  }
  TempDirectory place;
  runCommand("unshare -m --propagation private " + shellQuoted(QUILLMERE_VOLUME_PROBE) + " " +
             shellQuoted(place.path()));
}

class VolumeTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    const auto root = systemRoot();
    std::filesystem::create_directories(root / "proc/self");
    std::filesystem::create_directories(root / "dev/disk/by-uuid");
    std::filesystem::create_directories(root / "sys/block/sdb");
    std::filesystem::create_directories(root / "sys/block/vda");
    std::filesystem::create_symlink("../../vda", root / "dev/disk/by-uuid/0f1e-root");
    std::filesystem::create_symlink("../../sdb1", root / "dev/disk/by-uuid/AAAA-1111");
    std::filesystem::create_symlink("../../sdc1", root / "dev/disk/by-uuid/BBBB-2222");
    std::ofstream(root / "sys/block/sdb/removable") << "1\n";
    std::ofstream(root / "sys/block/vda/removable") << "0\n";
    mountTable({});
  }

  // The table: the boot drive at "/" and these drives (source, mount point).
  void mountTable(const std::vector<std::pair<std::string, std::filesystem::path>>& drives) {
    std::ofstream table(systemRoot() / "proc/self/mountinfo", std::ios::trunc);
    table << "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n";
    int id = 40;
    for (const auto& [source, place] : drives) {
      table << id++ << " 27 8:17 / " << place.string() << " rw,nosuid shared:7 - vfat " << source
            << " rw\n";
    }
  }
};
using VolumeConcurrency = VolumeTest;

TEST_F(VolumeConcurrency, ADriveIsKnownByItsUUIDAndFoundWhereverItIsMounted) {
  const auto disk = makeFolder("media/me/DISK/Photos");
  mountTable({{"/dev/sdb1", temp->path() / "media/me/DISK"}});
  VolumeWatcher volumes(systemRoot());
  EXPECT_EQ(volumes.table().bootVolumeUUID(), "0f1e-root");
  const auto volume = volumes.table().describe(disk.string());
  EXPECT_EQ(volume.uuid, "AAAA-1111");
  EXPECT_TRUE(volume.external);
  EXPECT_EQ(volume.name, "DISK");
  ASSERT_TRUE(volume.bookmark);
  EXPECT_EQ(FolderBookmark::decode(*volume.bookmark), (FolderBookmark{"AAAA-1111", "Photos"}));

  Root root{.id = 1, .path = disk.string(), .bookmark = volume.bookmark, .volumeUUID = volume.uuid};
  EXPECT_EQ(volumes.table().locate(root), disk.string());
  mountTable({{"/dev/sdb1", temp->path() / "run/media/me/DISK"}});
  volumes.reload();
  EXPECT_EQ(volumes.table().locate(root), (temp->path() / "run/media/me/DISK/Photos").string());
  mountTable({});
  volumes.reload();
  EXPECT_EQ(volumes.table().locate(root), std::nullopt);
}

TEST_F(VolumeConcurrency, AFolderOnTheBootDriveIsInternal) {
  const auto folder = makeFolder("Home/Photos");
  VolumeWatcher volumes(systemRoot());
  const auto volume = volumes.table().describe(folder.string());
  EXPECT_EQ(volume.uuid, "0f1e-root");
  EXPECT_FALSE(volume.external);
  EXPECT_EQ(volume.name, std::nullopt);
}

TEST_F(VolumeConcurrency, ADriveBackAtAnotherMountPointIsOnlineAndScannedOnce) {
  const auto first = temp->path() / "media/me/DISK";
  const auto second = temp->path() / "run/media/me/DISK";
  addPhotos(makeFolder("media/me/DISK/Photos"), 3);
  mountTable({{"/dev/sdb1", first}});
  const auto id = addIndexed(first / "Photos");
  ASSERT_EQ(model().folders()->list()->rowCount(), 1);
  EXPECT_TRUE(model().folders()->list()->folders().front().isExternal);
  const auto before = model().library()->files(id);
  ASSERT_EQ(before.size(), 3u);

  // Unplugged: the folder goes offline and keeps its files.
  mountTable({});
  model().folders()->volumesChanged();
  EXPECT_FALSE(model().folders()->list()->folders().front().online);
  waitIdle();
  EXPECT_EQ(model().library()->files(id).size(), 3u);

  // Plugged in again elsewhere.
  std::filesystem::create_directories(second.parent_path());
  std::filesystem::rename(first, second);
  mountTable({{"/dev/sdb1", second}});
  int scans = 0;
  QObject::connect(&model(), &AppModel::progressChanged, &model(), [&] {
    if (model().progress().phase.kind == Indexer::Phase::Kind::scanning) ++scans;
  });
  model().folders()->volumesChanged();
  const auto& folder = model().folders()->list()->folders().front();
  EXPECT_TRUE(folder.online);
  EXPECT_EQ(folder.root.path, (second / "Photos").string());
  waitIdle();
  model().folders()->volumesChanged();  // nothing came back this time: no scan
  waitIdle();
  QTest::qWait(100);
  EXPECT_EQ(scans, 1);
  auto after = model().library()->files(id);
  std::sort(after.begin(), after.end(), [](auto& a, auto& b) { return a.id < b.id; });
  EXPECT_EQ(after, before);  // the same files, still indexed: nothing indexed again
}

TEST_F(VolumeConcurrency, AnUnrelatedMountLeavesTheResultsAndADriveLeavingKeepsTheSelection) {
  const auto place = temp->path() / "media/me/DISK";
  addPhotos(makeFolder("media/me/DISK/Photos"), 3);
  mountTable({{"/dev/sdb1", place}});
  addIndexed(place / "Photos");
  search("a photo");
  ASSERT_EQ(model().search()->results()->rowCount(), 3);
  const auto chosen = model().search()->results()->results()[1].frameID;
  model().search()->select(chosen);
  QSignalSpy started(model().search(), &SearchModel::searchStarted);
  QSignalSpy replaced(model().search(), &SearchModel::resultsReplaced);

  // A stick of someone else's mounted elsewhere: nothing of ours changed.
  mountTable({{"/dev/sdb1", place}, {"/dev/sdc1", makeFolder("media/me/STICK")}});
  model().folders()->volumesChanged();
  EXPECT_FALSE(started.wait(300));

  // The drive unplugged: its results stay, offline, and so does the selection.
  QSignalSpy applied(model().search(), &SearchModel::searchApplied);
  mountTable({});
  model().folders()->volumesChanged();
  ASSERT_TRUE(applied.wait(answerWait));
  EXPECT_EQ(started.count(), 1);
  EXPECT_EQ(replaced.count(), 0);
  EXPECT_EQ(model().search()->selection(), chosen);
}

TEST_F(VolumeConcurrency, AnotherDriveWithTheSameNameAtTheSamePlaceIsNotTheFolder) {
  const auto place = temp->path() / "media/me/DISK";
  addPhotos(makeFolder("media/me/DISK/Photos"), 3);
  mountTable({{"/dev/sdb1", place}});
  const auto id = addIndexed(place / "Photos");
  ASSERT_EQ(model().library()->files(id).size(), 3u);

  // Another card of the same name, holding other photos at the same path.
  std::filesystem::remove_all(place / "Photos");
  addPhotos(makeFolder("media/me/DISK/Photos"), 1, "other");
  mountTable({{"/dev/sdc1", place}});
  model().folders()->volumesChanged();
  EXPECT_FALSE(model().folders()->list()->folders().front().online);
  EXPECT_EQ(model().folders()->reachablePath(model().library()->roots().front()), std::nullopt);
  waitIdle();
  // Nor is it scanned when the application starts again with that card in place.
  model_.reset();
  EXPECT_FALSE(model().folders()->list()->folders().front().online);
  waitIdle();
  EXPECT_EQ(model().library()->files(id).size(), 3u);
  EXPECT_EQ(model().folders()->totals().indexed, 3);
}

}  // namespace
}  // namespace quillmere::test
