// SPDX-License-Identifier: GPL-3.0-or-later
#include "HostileFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "support/MediaFactory.h"
#include "support/TempDirectory.h"

namespace quillmere::test {
namespace fs = std::filesystem;

namespace {

std::vector<char> contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const fs::path& file, const std::vector<char>& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

// Sets a file's modification time (not following a link) to now minus the given minutes.
void age(const fs::path& file, int minutes) {
  const auto now = std::chrono::system_clock::now() - std::chrono::minutes(minutes);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch());
  timespec times[2] = {{static_cast<time_t>(seconds.count()), 0},
                       {static_cast<time_t>(seconds.count()), 0}};
  if (::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
    throw std::runtime_error("cannot set the time of " + file.string());
  }
}

void makeSparse(const fs::path& file, std::uintmax_t size) {
  std::ofstream(file, std::ios::binary).put('\0');
  fs::resize_file(file, size);  // no blocks behind the hole
}

const std::string longName = std::string(251, 'L') + ".jpg";  // 255 bytes
const std::string longFolder = std::string(255, 'D');         // 255 bytes
const std::string renamedFolder = "renamed dir\xff";

}  // namespace

std::optional<std::string> readBackExports(const fs::path& xml, const fs::path& table) {
  const TempDirectory scratch;
  const fs::path parsed = scratch.path() / "parsed.json";
  const std::string command =
      std::string(QUILLMERE_PYTHON) + " " +
      shellQuoted(fs::path(QUILLMERE_SOURCE_DIR) / "tests/export/read_export.py") + " " +
      shellQuoted(xml) + " " + shellQuoted(table) + " >" + shellQuoted(parsed);
  if (std::system(command.c_str()) != 0) {
    ADD_FAILURE() << "read_export.py could not read " << xml << " and " << table;
    return std::nullopt;
  }
  const std::vector<char> bytes = contents(parsed);
  return std::string(bytes.begin(), bytes.end());
}

const BaseMedia& BaseMedia::shared() {
  static TempDirectory directory;
  static const BaseMedia media = [] {
    BaseMedia made;
    std::vector<fs::path> wallpapers;
    for (const auto& entry : fs::directory_iterator("/usr/share/backgrounds/mate/nature")) {
      if (entry.path().extension() == ".jpg") wallpapers.push_back(entry.path());
    }
    std::sort(wallpapers.begin(), wallpapers.end());
    if (wallpapers.empty()) throw std::runtime_error("no wallpapers in mate-backgrounds");
    // Two sizes of every wallpaper: different files, different vectors.
    for (int width : {320, 384}) {
      for (const auto& wallpaper : wallpapers) {
        const auto out =
            directory.path() / (wallpaper.stem().string() + std::to_string(width) + ".jpg");
        runCommand("vips thumbnail " + shellQuoted(wallpaper) + " " +
                   shellQuoted(out.string() + "[Q=97]") + " " + std::to_string(width));
        if (fs::file_size(out) >= 12000) made.photos.push_back(out);
      }
    }
    made.redPhoto = directory.path() / "red.jpg";
    runCommand(
        "ffmpeg -loglevel error -y -f lavfi -i color=c=0xcc1a1a:s=320x200 -frames:v 1 "
        "-vf noise=alls=40:allf=t -q:v 2 " +
        shellQuoted(made.redPhoto));
    made.patternClip = directory.path() / "pattern.mp4";
    runCommand(
        "ffmpeg -loglevel error -y -f lavfi -i testsrc2=s=160x90:r=10:d=3 "
        "-vf noise=alls=20:allf=t -c:v libx264 -pix_fmt yuv420p " +
        shellQuoted(made.patternClip));
    made.redClip = directory.path() / "red.mp4";
    runCommand(
        "ffmpeg -loglevel error -y -f lavfi -i color=c=0x707070:s=160x90:r=10:d=2 "
        "-f lavfi -i color=c=0xcc1a1a:s=160x90:r=10:d=2 -filter_complex "
        "'[0][1]concat=n=2:v=1,noise=alls=30:allf=t' -c:v libx264 -pix_fmt yuv420p " +
        shellQuoted(made.redClip));
    return made;
  }();
  return media;
}

HostileFolder::HostileFolder(fs::path root, fs::path outside)
    : root_(std::move(root)), outside_(std::move(outside)) {
  build();
}

HostileFolder::~HostileFolder() {
  stopFlapping();
  unlock();
}

fs::path HostileFolder::photo(int index) const {
  const auto& photos = BaseMedia::shared().photos;
  return photos[static_cast<std::size_t>(index) % photos.size()];
}

fs::path HostileFolder::examplePhoto() const {
  return root_ / "caf\xe9.jpg";
}

void HostileFolder::addPhoto(const std::string& relPath, int index, int ageMinutes) {
  const fs::path file = root_ / relPath;
  fs::create_directories(file.parent_path());
  fs::copy_file(photo(index), file, fs::copy_options::overwrite_existing);
  age(file, ageMinutes);
  readable_.insert(relPath);
}

void HostileFolder::addVideo(const std::string& relPath, const fs::path& source, int ageMinutes) {
  const fs::path file = root_ / relPath;
  fs::create_directories(file.parent_path());
  fs::copy_file(source, file, fs::copy_options::overwrite_existing);
  age(file, ageMinutes);
  readable_.insert(relPath);
}

void HostileFolder::build() {
  const BaseMedia& base = BaseMedia::shared();
  fs::create_directories(root_);
  fs::create_directories(outside_);

  // Hostile names, newest first: these fill the first photo batch.
  const std::vector<std::string> names = {
      "with space.jpg",
      "it's.jpg",
      "say \"cheese\".jpg",
      "line\nbreak.jpg",
      "tab\there.jpg",
      "-rf.jpg",
      "back\\slash\\.jpg",
      "a&b<c>d;|$(echo x)`id`.jpg",
      longName,
      "\xff\xfe.jpg",
      "caf\xe9.jpg",
      "\u00fcn\u00efc\u00f8d\u00e9 \u5199\u771f.jpg",
      "x.jpg/inner.jpg",
      "dir with space/in 'dir'.jpg",
      "-dash dir/--version.jpg",
      "new\nline dir/photo.jpg",
      "\xff\xe9 dir/caf\xe9 2.jpg",
      longFolder + "/" + longName,
      "a/b/c/d/e/deep.JPG",
  };
  int index = 0;
  for (const auto& name : names) addPhoto(name, index, index), ++index;
  {
    const fs::path red = root_ / redPhoto;
    fs::copy_file(base.redPhoto, red);
    age(red, 30);
    readable_.insert(redPhoto);
  }
  addPhoto(flappingPhoto, index++, 40);
  // Old ones, in a later batch: changed while the first batch is indexed.
  addPhoto(noisedPhoto, index++, 60 * 24 * 10);
  addPhoto("delete me.jpg", index++, 60 * 24 * 11);
  addPhoto("rename-dir/moved\nphoto.jpg", index++, 60 * 24 * 12);
  addPhoto("rename-dir/sub/also.jpg", index++, 60 * 24 * 13);

  addVideo(truncatedClip, base.patternClip, 5);
  addVideo(redVideo, base.redClip, 6);
  addVideo("vid\nnew line.mp4", base.patternClip, 7);
  addVideo("\xff vid.mp4", base.redClip, 8);
  addVideo("x.jpg/clip.mov", base.patternClip, 9);
  addVideo("rename-dir/clip.mp4", base.patternClip, 10);
  addVideo("delete me.mp4", base.redClip, 11);
  addVideo(flappingClip, base.patternClip, 12);
  // Whole media followed by 2 GB of holes.
  addVideo("padded 2G.mp4", base.redClip, 13);
  fs::resize_file(root_ / "padded 2G.mp4", 2ull << 30);
  addPhoto("padded 2G.jpg", index++, 45);
  fs::resize_file(root_ / "padded 2G.jpg", 2ull << 30);

  // Content nothing can decode.
  writeRandom(root_ / "noise.jpg", 30000, 7);
  writeRandom(root_ / "noise.mp4", 80000, 8);
  makeSparse(root_ / "huge.mp4", 2ull << 30);
  makeSparse(root_ / "huge.jpg", 2ull << 30);
  unreadableContent_ = {"noise.jpg", "noise.mp4", "huge.mp4", "huge.jpg"};

  // Never listed: tiny, hidden, inside a package, links of every sort, a pipe.
  std::ofstream(root_ / "empty.jpg").close();
  std::ofstream(root_ / "empty.mp4").close();
  fs::copy_file(photo(0), root_ / ".hidden.jpg");
  fs::create_directories(root_ / ".hidden dir");
  fs::copy_file(photo(1), root_ / ".hidden dir/p.jpg");
  fs::create_directories(root_ / "Old.photoslibrary");
  fs::copy_file(photo(2), root_ / "Old.photoslibrary/p.jpg");
  fs::create_symlink("loop-b.jpg", root_ / "loop-a.jpg");
  fs::create_symlink("loop-a.jpg", root_ / "loop-b.jpg");
  fs::create_directory_symlink("loopdir-b", root_ / "loopdir-a");
  fs::create_directory_symlink("loopdir-a", root_ / "loopdir-b");
  fs::create_directory_symlink("..", root_ / "up");
  fs::create_directory_symlink(".", root_ / "dir with space/self");
  fs::create_symlink("nowhere.jpg", root_ / "dangling.jpg");
  fs::copy_file(photo(3), outside_ / "real.jpg");
  fs::create_directories(outside_ / "dir");
  fs::copy_file(photo(4), outside_ / "dir/real2.jpg");
  fs::copy_file(base.patternClip, outside_ / "dir/real.mp4");
  fs::create_symlink(outside_ / "real.jpg", root_ / "outside.jpg");
  fs::create_directory_symlink(outside_ / "dir", root_ / "outside dir");
  if (::mkfifo((root_ / "pipe.mp4").c_str(), 0644) != 0) throw std::runtime_error("mkfifo");
  fs::create_symlink("pipe.mp4", root_ / "pipe-link.mp4");
  neverListed_ = {"empty.jpg",
                  "empty.mp4",
                  ".hidden.jpg",
                  ".hidden dir/p.jpg",
                  "Old.photoslibrary/p.jpg",
                  "loop-a.jpg",
                  "loop-b.jpg",
                  "dangling.jpg",
                  "outside.jpg",
                  "outside dir/real2.jpg",
                  "outside dir/real.mp4",
                  "pipe.mp4",
                  "pipe-link.mp4",
                  "up/" + root_.filename().string() + "/with space.jpg",
                  "dir with space/self/in 'dir'.jpg"};

  // Behind permission bits.
  addPhoto(lockedFile, 5, 50);
  readable_.erase(lockedFile);
  fs::permissions(root_ / lockedFile, fs::perms::none);
  for (const auto& [folder, mode] : std::vector<std::pair<std::string, fs::perms>>{
           {"locked dir", fs::perms::none},
           {"exec-only dir", fs::perms::owner_write | fs::perms::owner_exec}}) {
    addPhoto(folder + "/inside.jpg", 6, 50);
    readable_.erase(folder + "/inside.jpg");
    lockedInside_.insert(folder + "/inside.jpg");
    fs::permissions(root_ / folder, mode);
  }
}

void HostileFolder::unlock() {
  std::error_code ignored;
  fs::permissions(root_ / lockedFile, fs::perms::owner_read | fs::perms::owner_write, ignored);
  fs::permissions(root_ / "locked dir", fs::perms::owner_all, ignored);
  fs::permissions(root_ / "exec-only dir", fs::perms::owner_all, ignored);
}

void HostileFolder::changeEverything() {
  // A clip cut to 60 % of its bytes: indexed from what is left, or failed.
  const fs::path clip = root_ / truncatedClip;
  fs::resize_file(clip, fs::file_size(clip) * 6 / 10);
  readable_.erase(truncatedClip);

  // A photo overwritten with noise of the same length.
  const fs::path victim = root_ / noisedPhoto;
  writeRandom(victim, static_cast<std::size_t>(fs::file_size(victim)), 99);
  readable_.erase(noisedPhoto);
  unreadableContent_.insert(noisedPhoto);

  for (const std::string gone : {"delete me.jpg", "delete me.mp4"}) {
    fs::remove(root_ / gone);
    readable_.erase(gone);
    deleted_.insert(gone);
  }

  fs::rename(root_ / "rename-dir", root_ / renamedFolder);
  for (const std::string moved :
       {"rename-dir/moved\nphoto.jpg", "rename-dir/sub/also.jpg", "rename-dir/clip.mp4"}) {
    const std::string now = renamedFolder + moved.substr(std::string("rename-dir").size());
    readable_.erase(moved);
    readable_.insert(now);
    renamed_[moved] = now;
  }

  addPhoto("added later\n.jpg", 7, 1);
  addVideo("new dir/added 'clip'.mp4", BaseMedia::shared().redClip, 1);
  added_ = {"added later\n.jpg", "new dir/added 'clip'.mp4"};
}

void HostileFolder::startFlapping() {
  flapping_ = true;
  flapper_ = std::thread([this] {
    const fs::path photoFile = root_ / flappingPhoto;
    const fs::path clipFile = root_ / flappingClip;
    const std::vector<char> photoBytes = contents(photoFile);
    const std::vector<char> clipBytes = contents(clipFile);
    std::mt19937 random(5);
    for (int round = 0; flapping_; ++round) {
      switch (round % 4) {
        case 0: {  // torn: noise over the middle of the photo, in place
          std::fstream out(photoFile, std::ios::in | std::ios::out | std::ios::binary);
          out.seekp(static_cast<std::streamoff>(photoBytes.size() / 3));
          for (std::size_t i = 0; i < photoBytes.size() / 3; ++i) {
            out.put(static_cast<char>(random()));
          }
          break;
        }
        case 1:  // cut short, both
          fs::resize_file(photoFile, 100);
          fs::resize_file(clipFile, clipBytes.size() / 10);
          break;
        default:  // whole again
          writeAll(photoFile, photoBytes);
          writeAll(clipFile, clipBytes);
          break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    writeAll(photoFile, photoBytes);
    writeAll(clipFile, clipBytes);
  });
}

void HostileFolder::stopFlapping() {
  flapping_ = false;
  if (!flapper_.joinable()) return;
  flapper_.join();
  // Whole again, at a time no listing made during the flapping can be mistaken for.
  age(root_ / flappingPhoto, 60);
  age(root_ / flappingClip, 60);
}

}  // namespace quillmere::test
