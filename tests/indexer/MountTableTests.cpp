// SPDX-License-Identifier: GPL-3.0-or-later
// Drives as the mount table and /dev/disk/by-uuid tell them, and the one rule by which a
// stored folder is found on its drive again, which the indexer follows when no front end
// answers for it: from a made-up system tree, and from real drives (file-system images
// mounted through loop devices) in a mount namespace of the test's own where the machine
// allows it.
#include <sys/mount.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "IndexerFixture.h"
#include "index/FolderRules.h"
#include "platform/MountTable.h"
#include "support/MediaFactory.h"

namespace quillmere::test {
namespace {

using Mount = MountTable::Mount;
using Base = FolderBookmark::Base;

struct ParseCase {
  std::string name;
  std::string text;
  std::vector<Mount> mounts;
};

void PrintTo(const ParseCase& row, std::ostream* out) {
  *out << row.name;
}

class MountTableParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(MountTableParseTest, ReadsMountPointsRootsAndSources) {
  EXPECT_EQ(MountTable::parse(GetParam().text), GetParam().mounts);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MountTableParseTest,
    ::testing::Values(
        ParseCase{"Plain",
                  "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
                  "22 27 0:21 / /proc rw,relatime - proc proc rw\n",
                  {{"/", "/", "/dev/vda"}, {"/proc", "/", "proc"}}},
        ParseCase{"OptionalFields",
                  "40 27 8:17 / /media/me/DISK rw,nosuid shared:7 master:1 - vfat "
                  "/dev/sdb1 rw,uid=1000",
                  {{"/media/me/DISK", "/", "/dev/sdb1"}}},
        ParseCase{"EscapedSpace",
                  "41 27 8:33 / /media/me/My\\040Card rw - exfat /dev/sdc1 rw\n",
                  {{"/media/me/My Card", "/", "/dev/sdc1"}}},
        ParseCase{"SubvolumesAndBindMounts",
                  "35 1 0:30 /@ / rw shared:1 - btrfs /dev/nvme0n1p2 rw,subvol=/@\n"
                  "36 35 0:30 /@home /home rw shared:2 - btrfs /dev/nvme0n1p2 rw,subvol=/@home\n"
                  "52 36 8:17 /My\\040Trips /home/me/Trips rw - ext4 /dev/sdb1 rw\n",
                  {{"/", "/@", "/dev/nvme0n1p2"},
                   {"/home", "/@home", "/dev/nvme0n1p2"},
                   {"/home/me/Trips", "/My Trips", "/dev/sdb1"}}},
        ParseCase{"TruncatedLineSkipped", "41 27 8:33 / /media/x rw\n\n", {}},
        ParseCase{"SharesByTypeAndSource",
                  "45 27 0:50 / /mnt/nas rw - nfs4 nas:/export/photos rw\n"
                  "46 27 0:51 / /home/me/box rw - fuse.sshfs me@box:/data rw\n"
                  "47 27 0:52 / /tmp rw - tmpfs tmpfs rw\n",
                  {{"/mnt/nas", "/", "nas:/export/photos", "nfs4 nas:/export/photos"},
                   {"/home/me/box", "/", "me@box:/data", "fuse.sshfs me@box:/data"},
                   {"/tmp", "/", "tmpfs"}}}),
    [](const auto& info) { return info.param.name; });

// One line of a made-up mount table: the device, the directory of its drive shown, and where.
struct Line {
  std::string device;
  std::string root;
  std::string place;
  std::string type = "ext4";
};

// A made-up machine: the boot drive vda, two removable cards sdb and sdc, and a btrfs disk.
class DriveTree {
 public:
  explicit DriveTree(std::filesystem::path root) : root_(std::move(root)) {
    std::filesystem::create_directories(root_ / "proc/self");
    std::filesystem::create_directories(root_ / "dev/disk/by-uuid");
    for (const auto& [disk, removable] :
         {std::pair{"vda", 0}, {"sdb", 1}, {"sdc", 1}, {"nvme0n1", 0}}) {
      std::filesystem::create_directories(root_ / "sys/block" / disk);
      std::ofstream(root_ / "sys/block" / disk / "removable") << removable << "\n";
    }
    link("0f1e-root", "vda");
    link("AAAA-1111", "sdb1");
    link("BBBB-2222", "sdc1");
    link("B7F5-0001", "nvme0n1p2");
  }

  void link(const std::string& uuid, const std::string& device) {
    std::filesystem::create_symlink("../../" + device, root_ / "dev/disk/by-uuid" / uuid);
  }

  void mount(const std::vector<Line>& lines) {
    std::ofstream table(root_ / "proc/self/mountinfo", std::ios::trunc);
    int id = 30;
    for (const auto& line : lines) {
      table << id << " 1 8:17 " << line.root << " " << line.place << " rw shared:7 - " << line.type
            << " " << line.device << " rw\n";
      ++id;
    }
  }

  MountTable table() const { return MountTable(root_); }
  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path root_;
};

const Line boot{"/dev/vda", "/", "/"};
const Line card{"/dev/sdb1", "/", "/media/me/DISK"};
const Line cardElsewhere{"/dev/sdb1", "/", "/run/media/me/DISK"};
const Line otherCard{"/dev/sdc1", "/", "/media/me/DISK"};
const Line cardPhotosBound{"/dev/sdb1", "/Photos", "/home/me/Pictures"};
const Line share{"nas:/export/photos", "/", "/mnt/nas", "nfs4"};
const Line otherShare{"nas:/export/videos", "/", "/mnt/nas", "nfs4"};
const Line sshfs{"me@box:/data", "/", "/home/me/box", "fuse.sshfs"};
const Line sshfsElsewhere{"me@box:/data", "/", "/run/user/1000/box", "fuse.sshfs"};
const std::vector<Line> btrfs{{"/dev/nvme0n1p2", "/@", "/"}, {"/dev/nvme0n1p2", "/@home", "/home"}};

struct LocateCase {
  std::string name;
  std::string folder;       // where the folder was added
  std::vector<Line> added;  // the mounts then
  std::vector<Line> now;    // the mounts when it is looked for
  std::optional<std::string> found;
  std::optional<FolderBookmark> older;  // stored by an older version instead of added now
};

void PrintTo(const LocateCase& row, std::ostream* out) {
  *out << row.name;
}

class MountTableLocateTest : public ::testing::TestWithParam<LocateCase> {};

TEST_P(MountTableLocateTest, FindsAFolderOnlyWhereItsDriveShowsIt) {
  const auto& row = GetParam();
  TempDirectory temp;
  DriveTree tree(temp.path());
  Root root{.id = 1, .path = row.folder};
  if (row.older) {
    root.bookmark = row.older->encode();
    root.volumeUUID = row.older->volumeUUID;
  } else {
    tree.mount(row.added);
    const auto volume = tree.table().describe(row.folder);
    root.bookmark = volume.bookmark;
    root.volumeUUID = volume.uuid;
  }
  tree.mount(row.now);
  EXPECT_EQ(tree.table().locate(root), row.found);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MountTableLocateTest,
    ::testing::Values(
        LocateCase{"AtItsPlace",
                   "/media/me/DISK/Photos",
                   {boot, card},
                   {boot, card},
                   "/media/me/DISK/Photos"},
        LocateCase{"WhereItsDriveIsMountedNow",
                   "/media/me/DISK/Photos",
                   {boot, card},
                   {boot, cardElsewhere},
                   "/run/media/me/DISK/Photos"},
        LocateCase{"TheTopOfADrive",
                   "/media/me/DISK",
                   {boot, card},
                   {boot, cardElsewhere},
                   "/run/media/me/DISK"},
        LocateCase{"NotWhenUnplugged", "/media/me/DISK/Photos", {boot, card}, {boot}, std::nullopt},
        LocateCase{"NotOnAnotherCardOfTheSameName",
                   "/media/me/DISK/Photos",
                   {boot, card},
                   {boot, otherCard},
                   std::nullopt},
        LocateCase{"NotUnderADriveMountedOverIt",
                   "/media/me/DISK/Photos",
                   {boot, card},
                   {boot, card, otherCard},
                   std::nullopt},
        LocateCase{"InTheRootSubvolume", "/srv/Photos", btrfs, btrfs, "/srv/Photos"},
        LocateCase{"InTheHomeSubvolume", "/home/me/Photos", btrfs, btrfs, "/home/me/Photos"},
        LocateCase{"ThroughTheBindItWasAddedAt",
                   "/home/me/Pictures/2024",
                   {boot, card, cardPhotosBound},
                   {boot, card, cardPhotosBound},
                   "/home/me/Pictures/2024"},
        LocateCase{"ThroughTheDriveOnceTheBindIsGone",
                   "/home/me/Pictures/2024",
                   {boot, card, cardPhotosBound},
                   {boot, card},
                   "/media/me/DISK/Photos/2024"},
        LocateCase{"NotThroughABindOfAnotherDirectory",
                   "/media/me/DISK/Videos",
                   {boot, card},
                   {boot, cardPhotosBound},
                   std::nullopt},
        LocateCase{"OlderBookmarkInASubvolume",
                   "/srv/Photos",
                   {},
                   btrfs,
                   "/srv/Photos",
                   FolderBookmark{"B7F5-0001", "srv/Photos", Base::mountPoint}},
        LocateCase{"OlderBookmarkWhereItsDriveIsMountedNow",
                   "/media/me/DISK/Photos",
                   {},
                   {boot, cardElsewhere},
                   "/run/media/me/DISK/Photos",
                   FolderBookmark{"AAAA-1111", "Photos", Base::mountPoint}},
        LocateCase{"OlderBookmarkNotThroughABind",
                   "/media/me/DISK/Photos",
                   {},
                   {boot, cardPhotosBound},
                   std::nullopt,
                   FolderBookmark{"AAAA-1111", "Photos", Base::mountPoint}},
        LocateCase{"OnAShare", "/mnt/nas/Photos", {boot, share}, {boot, share}, "/mnt/nas/Photos"},
        LocateCase{
            "NotTheBareMountPointOfAShare", "/mnt/nas/Photos", {boot, share}, {boot}, std::nullopt},
        LocateCase{"NotOnAnotherShareAtItsPlace",
                   "/mnt/nas/Photos",
                   {boot, share},
                   {boot, otherShare},
                   std::nullopt},
        LocateCase{"OnAnSshfsShareWhereItIsMountedNow",
                   "/home/me/box/Photos",
                   {boot, sshfs},
                   {boot, sshfsElsewhere},
                   "/run/user/1000/box/Photos"}),
    [](const auto& info) { return info.param.name; });

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

}  // namespace
}  // namespace quillmere::test
