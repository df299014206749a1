// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/DownloadStaging.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/FileLock.h"

namespace quillmere {
namespace {

constexpr char lockName[] = ".lock";

std::uint64_t bytesUnder(const std::filesystem::path& folder) {
  std::uint64_t bytes = 0;
  std::error_code error;
  for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file(error)) bytes += it->file_size(error);
  }
  return bytes;
}

// Whether `fd` is still the file at `path`: a download that ended may have removed it.
bool stillThere(int fd, const std::filesystem::path& path) {
  struct stat open {
  }, named{};
  return ::fstat(fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 &&
         open.st_ino == named.st_ino && open.st_dev == named.st_dev;
}

}  // namespace

DownloadStaging::Busy::Busy(const std::string& repository, const std::string& variant)
    : std::runtime_error(repository + (variant.empty() ? "" : "@" + variant)),
      repository_(repository),
      variant_(variant) {}

DownloadStaging::DownloadStaging(const std::filesystem::path& models, std::string repository,
                                 std::string variant)
    : downloads_(models / ".downloads"),
      repository_(std::move(repository)),
      variant_(std::move(variant)) {
  const auto slash = repository_.find('/');
  const auto name = repository_.substr(slash + 1);
  folder_ =
      downloads_ / repository_.substr(0, slash) / (variant_.empty() ? name : name + "@" + variant_);
  files_ = folder_ / name;
}

DownloadStaging::~DownloadStaging() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the flock
}

void DownloadStaging::lock() {
  const auto path = folder_ / lockName;
  for (;;) {
    std::filesystem::create_directories(files_);
    const auto fd = FileLock::tryExclusive(path);
    if (!fd) throw Busy(repository_, variant_);
    if (stillThere(*fd, path)) {
      fd_ = *fd;
      return;
    }
    ::close(*fd);  // locked a folder discarded meanwhile: take the new one
  }
}

bool DownloadStaging::empty() const {
  return bytesUnder(files_) == 0;
}

void DownloadStaging::discard() {
  std::error_code error;
  std::filesystem::remove_all(folder_, error);
  std::filesystem::remove(folder_.parent_path(), error);
  std::filesystem::remove(downloads_, error);
}

std::vector<DownloadStaging::Partial> DownloadStaging::partials(
    const std::filesystem::path& models) {
  std::vector<Partial> found;
  std::error_code error;
  for (const auto& owner : std::filesystem::directory_iterator(models / ".downloads", error)) {
    for (const auto& entry : std::filesystem::directory_iterator(owner.path(), error)) {
      const auto text = entry.path().filename().string();
      const auto at = text.find('@');
      const auto name = text.substr(0, at);
      if (!std::filesystem::is_directory(entry.path() / name, error)) continue;
      found.push_back({owner.path().filename().string() + "/" + name,
                       at == std::string::npos ? "" : text.substr(at + 1),
                       bytesUnder(entry.path() / name), entry.path()});
    }
  }
  std::sort(found.begin(), found.end(), [](const Partial& a, const Partial& b) {
    return a.repository + "@" + a.variant < b.repository + "@" + b.variant;
  });
  return found;
}

bool DownloadStaging::remove(const std::filesystem::path& models, const std::string& repository,
                             const std::string& variant) {
  DownloadStaging staging(models, repository, variant);
  std::error_code error;
  if (!std::filesystem::exists(staging.files_, error)) return false;
  staging.lock();
  staging.discard();
  return true;
}

}  // namespace quillmere
