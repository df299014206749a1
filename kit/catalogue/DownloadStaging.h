// SPDX-License-Identifier: GPL-3.0-or-later
// The folder one export is downloaded into before its import:
// <models>/.downloads/<owner>/<name>[@<variant>], the files in its <name>/ (so the import
// names the model after the repository) beside a lock file. The flock(2) on it keeps a second
// download of the same export, from this process or another (the application and
// quillmere-cli), from appending to the same files; nobody waits for it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillmere {

class DownloadStaging {
 public:
  // Another download of the export holds the lock; the front ends say so. what() is the
  // export as owner/name[@variant].
  class Busy : public std::runtime_error {
   public:
    explicit Busy(const std::string& repository, const std::string& variant);
    const std::string& repository() const { return repository_; }
    const std::string& variant() const { return variant_; }

   private:
    std::string repository_;
    std::string variant_;
  };

  // A download stopped on the way, with the bytes it has.
  struct Partial {
    std::string repository;  // owner/name
    std::string variant;     // empty for the float32 encoders
    std::uint64_t bytes = 0;
    std::filesystem::path folder;
  };

  DownloadStaging(const std::filesystem::path& models, std::string repository, std::string variant);
  ~DownloadStaging();
  DownloadStaging(const DownloadStaging&) = delete;
  DownloadStaging& operator=(const DownloadStaging&) = delete;

  // Makes the folder and takes its lock until discard() or the end. Throws Busy, or
  // std::system_error.
  void lock();
  // Where the export's files go: the import's source.
  const std::filesystem::path& files() const { return files_; }
  // Whether no byte has arrived yet.
  bool empty() const;
  // Removes the folder, then the folders above it that nothing else is left in.
  void discard();

  // The downloads under `models` that have not ended in an import.
  static std::vector<Partial> partials(const std::filesystem::path& models);
  // Removes the partial download of an export; false when there is none. Throws Busy while it
  // is being downloaded.
  static bool remove(const std::filesystem::path& models, const std::string& repository,
                     const std::string& variant);

 private:
  std::filesystem::path downloads_;  // <models>/.downloads
  std::filesystem::path folder_;
  std::filesystem::path files_;
  std::string repository_;
  std::string variant_;
  int fd_ = -1;
};

}  // namespace quillmere
