// SPDX-License-Identifier: GPL-3.0-or-later
// A folder of real photos and clips under every kind of name and file a user's disk may
// hold: quotes, newlines, tabs, leading dashes, backslashes, markup characters, 255-byte
// names, bytes that are not UTF-8, symbolic-link loops, dangling and outward links,
// unreadable entries, zero-byte and sparse 2 GB files, a directory named like a photo.
// It also knows what an indexer should make of each entry, and can change the folder
// while an indexer works on it.
#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace quillmere::test {

class HostileFolder {
 public:
  // Builds the folder at root; outside gets the targets of the links that lead out of it.
  HostileFolder(std::filesystem::path root, std::filesystem::path outside);
  ~HostileFolder();
  HostileFolder(const HostileFolder&) = delete;
  HostileFolder& operator=(const HostileFolder&) = delete;

  const std::filesystem::path& root() const { return root_; }
  const std::filesystem::path& outside() const { return outside_; }

  // Relative paths (as the library stores them) of the real media whose names alone are
  // hostile: each must end indexed.
  const std::set<std::string>& readable() const { return readable_; }
  // Files whose content no decoder can read: each must end failed.
  const std::set<std::string>& unreadableContent() const { return unreadableContent_; }
  // Relative paths that must never be listed: links, hidden and tiny files, things outside.
  const std::set<std::string>& neverListed() const { return neverListed_; }
  // Entries behind permission bits: a file no one but root may read, and the photos inside
  // a directory without read permission (mode 000 and mode 300).
  static constexpr const char* lockedFile = "locked.jpg";
  const std::set<std::string>& behindLockedDirectories() const { return lockedInside_; }

  // One photo and one video of plain colour, for searches ("red").
  static constexpr const char* redPhoto = "red\nphoto \"&<>\".jpg";
  static constexpr const char* redVideo = "red clip 'night'.mp4";
  // A photo to search by example.
  std::filesystem::path examplePhoto() const;

  // The changes made while indexing runs, all at once: a clip truncated, a photo replaced
  // by noise, files deleted, a folder renamed, files added. Afterwards the sets above and
  // the expectations below describe the changed folder.
  void changeEverything();
  // Starts a thread that keeps rewriting two files in place (torn content, truncation)
  // until stopFlapping(), which leaves them whole again.
  void startFlapping();
  void stopFlapping();

  // What changeEverything() did, as relative paths.
  const std::set<std::string>& deleted() const { return deleted_; }
  const std::map<std::string, std::string>& renamed() const { return renamed_; }
  const std::set<std::string>& added() const { return added_; }
  static constexpr const char* truncatedClip = "--help.mp4";
  static constexpr const char* noisedPhoto = "victim 'old'.jpg";
  static constexpr const char* flappingPhoto = "flapping\tphoto.jpg";
  static constexpr const char* flappingClip = "flapping\nclip.mp4";

  // Makes the locked entries readable again, so the folder can be removed.
  void unlock();

 private:
  void build();
  std::filesystem::path photo(int index) const;  // a distinct prepared photo
  void addPhoto(const std::string& relPath, int index, int ageMinutes);
  void addVideo(const std::string& relPath, const std::filesystem::path& source, int ageMinutes);

  std::filesystem::path root_;
  std::filesystem::path outside_;
  std::set<std::string> readable_;
  std::set<std::string> unreadableContent_;
  std::set<std::string> neverListed_;
  std::set<std::string> lockedInside_;
  std::set<std::string> deleted_;
  std::map<std::string, std::string> renamed_;
  std::set<std::string> added_;
  std::atomic<bool> flapping_{false};
  std::thread flapper_;
};

// The prepared media every HostileFolder copies from, made once per process.
struct BaseMedia {
  std::vector<std::filesystem::path> photos;  // distinct wallpaper photos, 12 kB and more
  std::filesystem::path redPhoto;
  std::filesystem::path patternClip;  // 3 s moving pattern
  std::filesystem::path redClip;      // 2 s grey, then 2 s red
  static const BaseMedia& shared();
};

// An FCPXML and a CSV export read back by Python's XML and CSV parsers
// (tests/export/read_export.py), as the JSON text that script prints; fails the test and
// returns nothing when the script does.
std::optional<std::string> readBackExports(const std::filesystem::path& xml,
                                           const std::filesystem::path& table);

}  // namespace quillmere::test
