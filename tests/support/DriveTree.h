// SPDX-License-Identifier: GPL-3.0-or-later
// A made-up machine's drives for the tests of the mount table and of the indexer on it: a
// mount table, /dev/disk/by-uuid and /sys/block under a root of the test's own.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/MountTable.h"

namespace quillmere::test {

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

// The boot drive at "/".
inline const Line boot{"/dev/vda", "/", "/"};

}  // namespace quillmere::test
