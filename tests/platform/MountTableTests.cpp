// SPDX-License-Identifier: GPL-3.0-or-later
// Drives as the mount table and /dev/disk/by-uuid tell them, and the one rule by which a
// stored folder is found on its drive again: from a made-up system tree.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "index/FolderRules.h"
#include "index/Library.h"
#include "platform/MountTable.h"
#include "support/DriveTree.h"
#include "support/TempDirectory.h"

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
                  "47 27 0:52 / /tmp rw - tmpfs tmpfs rw\n"
                  "48 27 0:53 / /mnt/host rw - virtiofs hostshare rw\n"
                  "49 27 0:54 / /tank/photos rw - zfs tank/photos rw,xattr\n",
                  {{"/mnt/nas", "/", "nas:/export/photos", "nfs4 nas:/export/photos"},
                   {"/home/me/box", "/", "me@box:/data", "fuse.sshfs me@box:/data"},
                   {"/tmp", "/", "tmpfs"},
                   {"/mnt/host", "/", "hostshare", "virtiofs hostshare"},
                   {"/tank/photos", "/", "tank/photos"}}}),
    [](const auto& info) { return info.param.name; });

const Line card{"/dev/sdb1", "/", "/media/me/DISK"};
const Line cardElsewhere{"/dev/sdb1", "/", "/run/media/me/DISK"};
const Line otherCard{"/dev/sdc1", "/", "/media/me/DISK"};
const Line cardPhotosBound{"/dev/sdb1", "/Photos", "/home/me/Pictures"};
const Line share{"nas:/export/photos", "/", "/mnt/nas", "nfs4"};
const Line otherShare{"nas:/export/videos", "/", "/mnt/nas", "nfs4"};
const Line sshfs{"me@box:/data", "/", "/home/me/box", "fuse.sshfs"};
const Line sshfsElsewhere{"me@box:/data", "/", "/run/user/1000/box", "fuse.sshfs"};
const Line dataset{"tank/photos", "/", "/tank/photos", "zfs"};
const Line host{"hostshare", "/", "/mnt/host", "virtiofs"};
const Line hostElsewhere{"hostshare", "/", "/media/host", "virtiofs"};
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
                   "/run/user/1000/box/Photos"},
        LocateCase{"NotTheBareMountPointOfADataset", "/tank/photos", {boot, dataset}, {boot}, {}},
        LocateCase{"OnAVirtiofsShareWhereItIsMountedNow",
                   "/mnt/host/P",
                   {boot, host},
                   {boot, hostElsewhere},
                   "/media/host/P"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quillmere::test
