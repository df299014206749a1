// SPDX-License-Identifier: GPL-3.0-or-later
// The indexer as the command line makes it, finding each folder on its drive by the mount
// table's rule: on a made-up system tree, and on real drives (file-system images mounted
// through loop devices) in a mount namespace of the test's own where the machine allows it.
#include <sys/mount.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "IndexerFixture.h"
#include "index/FolderRules.h"
#include "platform/MountTable.h"
#include "support/DriveTree.h"
#include "support/MediaFactory.h"
#include "support/MountNamespace.h"

namespace quillmere::test {
namespace {

// The indexer as the command line makes it: no front end answers where a folder is.
class DriveIndexerTest : public IndexerTest {
 protected:
  std::unique_ptr<Indexer> indexerOn(const std::filesystem::path& systemRoot) {
    return std::make_unique<Indexer>(*library, *embedder, Indexer::Policy{},
                                     std::make_shared<PowerMonitor>(machine->root()), systemRoot);
  }

  void indexAll(Indexer& indexer) {
    indexer.run();
    indexer.waitUntilIdle();
  }
};

TEST_F(DriveIndexerTest, AnotherCardOrAnEmptyMountPointAtTheFoldersPathIsNotScanned) {
  DriveTree tree(temp->path() / "system");
  const auto place = temp->path() / "media/me/DISK";
  addPhotos(makeFolder("media/me/DISK/Photos"), 3);
  tree.mount({{"/dev/vda", "/", "/"}, {"/dev/sdb1", "/", place.string()}});
  const auto added = FolderRules::add(*library, place / "Photos", tree.table());
  ASSERT_EQ(added.outcome, FolderRules::Outcome::added);
  EXPECT_EQ(added.root->volumeUUID, "AAAA-1111");
  const auto id = added.root->id;
  auto indexer = indexerOn(tree.root());
  indexAll(*indexer);
  ASSERT_EQ(library->totals().indexed, 3);

  // Another card of the same name at the same place, with other photos at the same path.
  std::filesystem::remove_all(place / "Photos");
  addPhotos(makeFolder("media/me/DISK/Photos"), 1, "other");
  tree.mount({{"/dev/vda", "/", "/"}, {"/dev/sdc1", "/", place.string()}});
  indexAll(*indexer);
  EXPECT_EQ(library->files(id).size(), 3u);
  EXPECT_EQ(library->totals().indexed, 3);

  // Unplugged: the mount point stays behind, empty.
  std::filesystem::remove_all(place / "Photos");
  std::filesystem::create_directories(place / "Photos");
  tree.mount({{"/dev/vda", "/", "/"}});
  indexAll(*indexer);
  EXPECT_EQ(library->files(id).size(), 3u);
  EXPECT_EQ(library->totals().indexed, 3);
}

TEST_F(DriveIndexerTest, AnUnmountedShareKeepsItsFiles) {
  DriveTree tree(temp->path() / "system");
  const auto place = temp->path() / "mnt/nas";
  addPhotos(makeFolder("mnt/nas/Photos"), 3);
  tree.mount({boot, {"nas:/export", "/", place.string(), "nfs"}});
  const auto added = FolderRules::add(*library, place / "Photos", tree.table());
  ASSERT_EQ(added.outcome, FolderRules::Outcome::added);
  EXPECT_EQ(added.root->volumeUUID, "nfs nas:/export");
  EXPECT_EQ(added.root->volumeName, "nas");
  auto indexer = indexerOn(tree.root());
  indexAll(*indexer);
  ASSERT_EQ(library->totals().indexed, 3);

  // Unmounted: the mount point stays behind, empty.
  std::filesystem::remove_all(place / "Photos");
  std::filesystem::create_directories(place / "Photos");
  tree.mount({boot});
  indexAll(*indexer);
  EXPECT_EQ(library->files(added.root->id).size(), 3u);
  EXPECT_EQ(library->totals().indexed, 3);
}

TEST_F(DriveIndexerTest, AFolderStoredWithoutItsDriveTakesOnTheMountItsFilesAreOn) {
  DriveTree tree(temp->path() / "system");
  const auto place = temp->path() / "mnt/scratch";
  addPhotos(makeFolder("mnt/scratch"), 3);
  tree.mount({boot, {"tmpfs", "/", place.string(), "tmpfs"}});
  const auto id = FolderRules::add(*library, place).root->id;  // as older versions stored it
  auto indexer = indexerOn(tree.root());
  indexAll(*indexer);
  indexAll(*indexer);  // the files stored by the first run are seen on the tmpfs
  std::filesystem::remove_all(place);
  std::filesystem::create_directories(place);
  tree.mount({boot});
  indexAll(*indexer);
  EXPECT_EQ(library->files(id).size(), 3u);
}

// Real drives, in a mount namespace of this process's own: an ext4 image with its photos
// mounted through a loop device, and /dev/disk/by-uuid made up beside it (udev may not run).
class RealDriveTest : public DriveIndexerTest {
 protected:
  static std::string text(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

  // Where the inner run says why it skipped.
  static constexpr const char* skipFile = "QUILLMERE_MOUNT_NAMESPACE_SKIP";

  void SetUp() override {
    DriveIndexerTest::SetUp();
    tree = temp->path() / "system";
    std::filesystem::create_directories(tree / "proc/self");
    std::filesystem::create_directories(tree / "dev/disk/by-uuid");
    std::filesystem::create_symlink("/proc/self/mountinfo", tree / "proc/self/mountinfo");
    place = makeFolder("media/me/CARD");
  }

  void TearDown() override {
    ::umount2(place.c_str(), MNT_DETACH);
    DriveIndexerTest::TearDown();
  }

  // An image of a drive named CARD holding Photos/ with count photos.
  std::filesystem::path makeDrive(const std::string& uuid, int count, const std::string& prefix) {
    const auto content = makeFolder(uuid + "-content");
    addPhotos(makeFolder(uuid + "-content/Photos"), count, prefix);
    const auto image = temp->path() / (uuid + ".img");
    runCommand("truncate -s 8M " + shellQuoted(image) + " && mkfs.ext4 -q -F -L CARD -U " + uuid +
               " -d " + shellQuoted(content) + " " + shellQuoted(image));
    return image;
  }

  // Mounts the image at place; false when the machine has no loop device to give.
  bool plug(const std::filesystem::path& image, const std::string& uuid) {
    const auto command =
        "mount -o loop,ro " + shellQuoted(image) + " " + shellQuoted(place) + " 2>/dev/null";
    if (std::system(command.c_str()) != 0) return false;
    const auto mount = MountTable(tree).mountOf(place.string());
    if (!mount || mount->mountPoint != place.string()) return false;
    std::filesystem::create_symlink(mount->source, tree / "dev/disk/by-uuid" / uuid);
    plugged = uuid;
    return true;
  }

  // As udev would, the drive's link goes with it: the next image may get its loop device.
  void unplug() {
    ASSERT_EQ(::umount(place.c_str()), 0);
    std::filesystem::remove(tree / "dev/disk/by-uuid" / plugged);
  }

  std::filesystem::path tree;
  std::filesystem::path place;
  std::string plugged;  // the UUID of the drive at place
};

TEST_F(RealDriveTest, TwoCardsOfOneNameTakeTurnsAtOnePlace) {
  const char* skipped = std::getenv(skipFile);
  if (!skipped) {
    // Here: the run outside. The test runs again, alone, in a namespace of its own.
    if (std::system("unshare -m --propagation private true 2>/dev/null") != 0) {
      GTEST_SKIP() << "this machine lets no test make a mount namespace";
    }
    const auto why = temp->path() / "skipped.txt";
    const auto log = temp->path() / "inside.txt";
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const auto command = std::string(skipFile) + "=" + shellQuoted(why) +
                         " unshare -m --propagation private " +
                         shellQuoted(std::filesystem::read_symlink("/proc/self/exe")) +
                         " --gtest_brief=1 --gtest_filter=" + test->test_suite_name() + "." +
                         test->name() + " >" + shellQuoted(log) + " 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_EQ(status, 0) << text(log);
    if (std::filesystem::exists(why)) GTEST_SKIP() << text(why);
    return;
  }
  const auto skip = [&](const std::string& reason) { std::ofstream(skipped) << reason; };
  if (std::system("mkfs.ext4 -V >/dev/null 2>&1") != 0) {
    skip("mkfs.ext4 is not installed");
    GTEST_SKIP();
  }
  const std::string mine = "1c0ffee0-0000-4000-8000-000000000001";
  const std::string other = "1c0ffee0-0000-4000-8000-000000000002";
  const auto first = makeDrive(mine, 3, "photo");
  const auto second = makeDrive(other, 1, "other");
  if (!plug(first, mine)) {
    skip("this machine gives no loop device to mount a drive image on");
    GTEST_SKIP();
  }
  const auto added = FolderRules::add(*library, place / "Photos", MountTable(tree));
  ASSERT_EQ(added.outcome, FolderRules::Outcome::added);
  const Root root = *added.root;
  EXPECT_EQ(root.volumeUUID, mine);
  auto indexer = indexerOn(tree);
  indexAll(*indexer);
  ASSERT_EQ(library->totals().indexed, 3);

  unplug();
  ASSERT_TRUE(plug(second, other));
  EXPECT_EQ(MountTable(tree).locate(root), std::nullopt);
  indexAll(*indexer);
  EXPECT_EQ(library->files(root.id).size(), 3u);

  unplug();  // the empty mount point stays
  EXPECT_EQ(MountTable(tree).locate(root), std::nullopt);
  indexAll(*indexer);
  EXPECT_EQ(library->files(root.id).size(), 3u);

  ASSERT_TRUE(plug(first, mine));
  EXPECT_EQ(MountTable(tree).locate(root), (place / "Photos").string());
  indexAll(*indexer);
  EXPECT_EQ(library->files(root.id).size(), 3u);
  EXPECT_EQ(library->totals().indexed, 3);
  unplug();
}

TEST_F(RealDriveTest, AnUnmountedTmpfsIsOfflineWithItsFilesUntilItIsBack) {
  switch (inMountNamespace("QUILLMERE_TMPFS_MOUNT_NAMESPACE")) {
    case MountNamespace::unavailable:
      GTEST_SKIP() << "this machine lets no test make a mount namespace";
    case MountNamespace::ran:
      return;
    case MountNamespace::inside:
      break;
  }
  const auto photos = makeFolder("photos");
  addPhotos(photos, 6);
  // What a tmpfs holds goes with it: each mount gets the same photos, times kept.
  const auto mountWithPhotos = [&] {
    runCommand("mount -t tmpfs tmpfs " + shellQuoted(place) + " && cp -a " +
               shellQuoted(photos / ".") + " " + shellQuoted(place));
  };
  mountWithPhotos();
  const auto added = FolderRules::add(*library, place, MountTable(tree));
  ASSERT_EQ(added.outcome, FolderRules::Outcome::added);
  auto indexer = indexerOn(tree);
  indexAll(*indexer);
  const auto indexed = library->totals();
  ASSERT_EQ(indexed.indexed, 6);

  ASSERT_EQ(::umount(place.c_str()), 0);  // the empty mount point stays
  EXPECT_EQ(MountTable(tree).locate(*added.root), std::nullopt);
  indexAll(*indexer);
  EXPECT_EQ(library->totals(), indexed);

  mountWithPhotos();
  EXPECT_EQ(MountTable(tree).locate(*added.root), place.string());
  indexAll(*indexer);
  EXPECT_EQ(library->totals(), indexed);
}

}  // namespace
}  // namespace quillmere::test
