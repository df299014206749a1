// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "index/FolderRules.h"
#include "scan/Scanner.h"
#include "support/MediaFactory.h"
#include "support/MountNamespace.h"
#include "support/TempDirectory.h"

namespace quillmere {
namespace {

namespace fs = std::filesystem;
using test::TempDirectory;

void writeBytes(const fs::path& file, std::uintmax_t size) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  std::string block(static_cast<std::size_t>(size), 'x');
  out << block;
}

std::vector<std::string> relPaths(const Scanner::Result& result) {
  std::vector<std::string> paths;
  for (const auto& file : result.files) paths.push_back(file.relPath);
  std::sort(paths.begin(), paths.end());
  return paths;
}

const ScannedFile* find(const Scanner::Result& result, const std::string& relPath) {
  for (const auto& file : result.files) {
    if (file.relPath == relPath) return &file;
  }
  return nullptr;
}

TEST(ScannerKind, ClassifiesByExtensionInRuleOrder) {
  EXPECT_EQ(Scanner::kind("/a/Photo.JPG"), MediaKind::photo);
  EXPECT_EQ(Scanner::kind("/a/b.jpeg"), MediaKind::photo);
  EXPECT_EQ(Scanner::kind("/a/b.png"), MediaKind::photo);
  EXPECT_EQ(Scanner::kind("/a/b.webp"), MediaKind::photo);
  EXPECT_EQ(Scanner::kind("/a/b.heic"), MediaKind::photo);
  EXPECT_EQ(Scanner::kind("/a/b.avif"), MediaKind::photo);
  EXPECT_EQ(Scanner::kind("/a/b.tiff"), MediaKind::photo);
  EXPECT_EQ(Scanner::kind("/a/b.gif"), MediaKind::photo);
  EXPECT_EQ(Scanner::kind("/a/b.bmp"), MediaKind::photo);
  for (const char* name : {"/a/b.svg", "/a/b.pdf", "/a/b.ico", "/a/b.ICNS", "/a/b.txt",
                           "/a/noextension", "/a/b.mp3", "/a/.jpg"}) {
    EXPECT_EQ(Scanner::kind(name), std::nullopt) << name;
  }
  for (const char* name : {"/a/b.mp4", "/a/b.MOV", "/a/b.m4v", "/a/b.3gp", "/a/clip.MKV",
                           "/a/b.webm", "/a/b.avi", "/a/b.mts", "/a/b.m2ts"}) {
    EXPECT_EQ(Scanner::kind(name), MediaKind::video) << name;
  }
}

TEST(ScannerKind, UnplayableVideosHaveNoKindExceptTheAlwaysVideoFour) {
  // A machine whose video decoder plays nothing: what FFmpeg can't play is not indexed,
  // but the four always-video extensions still are.
  Scanner::Types types = Scanner::Types::installed();
  types.playableVideos.clear();
  EXPECT_EQ(Scanner::kind("/a/clip.mkv", types), std::nullopt);
  EXPECT_EQ(Scanner::kind("/a/clip.webm", types), std::nullopt);
  EXPECT_EQ(Scanner::kind("/a/clip.mp4", types), MediaKind::video);
  EXPECT_EQ(Scanner::kind("/a/clip.3GP", types), MediaKind::video);
  // An image type our decoder can't read is never offered as a photo.
  types.decodableImages.erase("heic");
  EXPECT_EQ(Scanner::kind("/a/b.heic", types), std::nullopt);
  EXPECT_EQ(Scanner::kind("/a/b.jpg", types), MediaKind::photo);
}

TEST(ScannerScan, AppliesTheSizeMinimumsToRealPhotosAndVideos) {
  TempDirectory dir;
  const auto root = dir / "root";
  fs::create_directories(root);
  // A real JPEG padded with trailing bytes is still a JPEG of exactly the size asked.
  const auto source = dir / "small.jpg";
  test::savePicture(test::solidPicture(64, 48, 200, 40, 40), source, "[Q=80]");
  ASSERT_LT(fs::file_size(source), 11999u);
  test::writeSized(root / "Photo.JPG", source, 12000);
  test::writeSized(root / "Tiny.jpg", source, 11999);
  writeBytes(root / "big.mp4", 50000);
  writeBytes(root / "small.mp4", 49999);
  writeBytes(root / "notes.txt", 100000);
  writeBytes(root / "picture.png", 20000);
  for (const char* name : {"a.svg", "a.pdf", "a.icns", "a.ico", "noextension"})
    writeBytes(root / name, 20000);

  const auto result = Scanner::scan(root, [] { return false; });
  EXPECT_EQ(relPaths(result), (std::vector<std::string>{"Photo.JPG", "big.mp4", "picture.png"}));
  EXPECT_EQ(result.unsupportedVideos, 0);
  EXPECT_EQ(result.bytes, 12000 + 50000 + 20000);
  const auto* photo = find(result, "Photo.JPG");
  ASSERT_NE(photo, nullptr);
  EXPECT_EQ(photo->kind, MediaKind::photo);
  EXPECT_EQ(photo->size, 12000);
  EXPECT_NEAR(photo->mtime,
              std::chrono::duration<double>(
                  std::chrono::file_clock::to_sys(fs::last_write_time(root / "Photo.JPG"))
                      .time_since_epoch())
                  .count(),
              1e-3);
  EXPECT_EQ(find(result, "big.mp4")->kind, MediaKind::video);
}

TEST(ScannerScan, CountsOnlyVideosThisComputerCannotPlay) {
  TempDirectory dir;
  writeBytes(dir / "clip.MKV", 60000);
  writeBytes(dir / "clip.webm", 60000);
  writeBytes(dir / "readme.txt", 60000);
  // Here FFmpeg plays MKV and WebM: they are indexed, not counted.
  const auto here = Scanner::scan(dir.path(), [] { return false; });
  EXPECT_EQ(relPaths(here), (std::vector<std::string>{"clip.MKV", "clip.webm"}));
  EXPECT_EQ(here.unsupportedVideos, 0);
  // Where they can't be played they are counted, and a text file is neither.
  Scanner::Types types = Scanner::Types::installed();
  types.playableVideos.clear();
  const auto elsewhere = Scanner::scan(
      dir.path(), [] { return false; }, types);
  EXPECT_TRUE(elsewhere.files.empty());
  EXPECT_EQ(elsewhere.unsupportedVideos, 2);
  EXPECT_EQ(elsewhere.bytes, 0);
}

TEST(ScannerScan, SkipsHiddenEntriesPackagesAndSymbolicLinks) {
  TempDirectory dir;
  const auto root = dir / "root";
  writeBytes(root / "2024" / "a.jpg", 20000);
  writeBytes(root / ".hidden" / "b.jpg", 20000);
  writeBytes(root / ".c.jpg", 20000);
  writeBytes(root / "Trip.photoslibrary" / "originals" / "d.jpg", 20000);
  writeBytes(root / "Viewer.app" / "e.jpg", 20000);
  writeBytes(dir / "outside" / "f.jpg", 20000);
  fs::create_directory_symlink(dir / "outside", root / "linked");
  fs::create_symlink(dir / "outside" / "f.jpg", root / "g.jpg");

  const auto result = Scanner::scan(root, [] { return false; });
  EXPECT_EQ(relPaths(result), (std::vector<std::string>{"2024/a.jpg"}));
}

TEST(ScannerScan, GivesTheSameRelativePathsWithOrWithoutTrailingSlash) {
  TempDirectory dir;
  const auto root = dir / "root";
  writeBytes(root / "2024" / "a.jpg", 20000);
  writeBytes(root / "2024" / "deep" / "b.mov", 60000);
  writeBytes(root / "c.png", 20000);
  const auto plain = Scanner::scan(root, [] { return false; });
  const auto slashed = Scanner::scan(root.string() + "/", [] { return false; });
  const auto dotted = Scanner::scan(root.string() + "/./", [] { return false; });
  EXPECT_EQ(relPaths(plain), (std::vector<std::string>{"2024/a.jpg", "2024/deep/b.mov", "c.png"}));
  EXPECT_EQ(plain, slashed);
  EXPECT_EQ(plain, dotted);
}

TEST(ScannerScan, MissingRootGivesNoFilesAndItselfUnreadable) {
  TempDirectory dir;
  // Nothing could be read: an empty listing of it would empty the folder.
  const Scanner::Result unread{.unreadable = {""}};
  const auto result = Scanner::scan(dir / "missing", [] { return false; });
  EXPECT_EQ(result, unread);
  // A regular file is no folder either.
  writeBytes(dir / "file.jpg", 20000);
  EXPECT_EQ(Scanner::scan(dir / "file.jpg", [] { return false; }), unread);
}

TEST(ScannerScan, UnreadableSubfolderDoesNotStopTheWalk) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  TempDirectory dir;
  writeBytes(dir / "locked" / "a.jpg", 20000);
  writeBytes(dir / "open" / "b.jpg", 20000);
  fs::permissions(dir / "locked", fs::perms::none);
  const auto result = Scanner::scan(dir.path(), [] { return false; });
  fs::permissions(dir / "locked", fs::perms::owner_all);
  EXPECT_EQ(relPaths(result), (std::vector<std::string>{"open/b.jpg"}));
  EXPECT_EQ(result.unreadable, (std::vector<std::string>{"locked"}));
}

// A drive mounted inside the folder is not walked: unmounted, it would take its files out of
// the folder. As root, the test runs again alone in a mount namespace of its own.
TEST(ScannerScan, DoesNotCrossIntoDrivesMountedBelowTheRoot) {
  switch (test::inMountNamespace("QUILLMERE_SCANNER_MOUNT_NAMESPACE")) {
    case test::MountNamespace::unavailable:
      GTEST_SKIP() << "this machine lets no test make a mount namespace";
    case test::MountNamespace::ran:
      return;
    case test::MountNamespace::inside:
      break;
  }
  TempDirectory dir;
  writeBytes(dir / "root" / "a.jpg", 20000);
  fs::create_directories(dir / "root" / "card");
  ASSERT_EQ(::mount("tmpfs", (dir / "root" / "card").c_str(), "tmpfs", 0, "size=1m"), 0);
  writeBytes(dir / "root" / "card" / "b.jpg", 20000);
  // A bind mount stays on the same file system.
  writeBytes(dir / "elsewhere" / "c.jpg", 20000);
  fs::create_directories(dir / "root" / "bound");
  ASSERT_EQ(::mount((dir / "elsewhere").c_str(), (dir / "root" / "bound").c_str(), nullptr, MS_BIND,
                    nullptr),
            0);
  const auto result = Scanner::scan(dir / "root", [] { return false; });
  // So such a drive is a folder of its own: not already in the folder around it, and not
  // replaced when that folder is added after it.
  const auto root = (dir / "root").string();
  const auto card = (dir / "root" / "card").string();
  EXPECT_FALSE(FolderRules::plan({Root{.id = 1, .path = root}}, card).alreadyIncluded);
  EXPECT_TRUE(FolderRules::plan({Root{.id = 1, .path = root}}, dir / "root" / "x").alreadyIncluded);
  EXPECT_TRUE(FolderRules::plan({Root{.id = 2, .path = card}}, root).nested.empty());
  ::umount((dir / "root" / "card").c_str());
  ::umount((dir / "root" / "bound").c_str());
  EXPECT_EQ(relPaths(result), (std::vector<std::string>{"a.jpg"}));
}

TEST(ScannerScan, PollsCancellationOncePerItemAndReturnsThePartialResult) {
  TempDirectory dir;
  for (int i = 0; i < 10; ++i) writeBytes(dir / ("p" + std::to_string(i) + ".jpg"), 20000);
  int polls = 0;
  const auto all = Scanner::scan(dir.path(), [&] {
    ++polls;
    return false;
  });
  EXPECT_EQ(all.files.size(), 10u);
  EXPECT_EQ(polls, 10);

  polls = 0;
  const auto partial = Scanner::scan(dir.path(), [&] { return ++polls > 4; });
  EXPECT_EQ(partial.files.size(), 4u);
  EXPECT_EQ(partial.bytes, 4 * 20000);
  EXPECT_EQ(polls, 5);
}

}  // namespace
}  // namespace quillmere
