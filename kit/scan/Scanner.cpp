// SPDX-License-Identifier: GPL-3.0-or-later
// The folder walk that lists photos and videos worth indexing, and the file types it takes.
#include "scan/Scanner.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <system_error>
#include <utility>

#include "core/StandardPath.h"
#include "platform/DriveBoundary.h"
#include "platform/ImageCodec.h"
#include "platform/VideoDecoder.h"

namespace quillmere {

namespace {

// Image extensions and the libvips loader that reads them.
constexpr std::array<std::pair<std::string_view, std::string_view>, 27> imageTypes = {{
    {"jpg", "jpegload"}, {"jpeg", "jpegload"},  {"jpe", "jpegload"},   {"jfif", "jpegload"},
    {"png", "pngload"},  {"webp", "webpload"},  {"heic", "heifload"},  {"heif", "heifload"},
    {"hif", "heifload"}, {"avif", "heifload"},  {"tif", "tiffload"},   {"tiff", "tiffload"},
    {"gif", "gifload"},  {"bmp", "magickload"}, {"jp2", "jp2kload"},   {"j2k", "jp2kload"},
    {"jxl", "jxlload"},  {"pbm", "ppmload"},    {"pgm", "ppmload"},    {"ppm", "ppmload"},
    {"pnm", "ppmload"},  {"tga", "magickload"}, {"psd", "magickload"}, {"svg", ""},
    {"svgz", ""},        {"pdf", ""},           {"ico", "magickload"},
}};
constexpr std::array<std::string_view, 1> moreImageTypes = {"icns"};

constexpr std::array<std::string_view, 6> excludedImages = {"svg", "svgz", "pdf",
                                                            "ico", "icns", "ai"};
constexpr std::array<std::string_view, 4> alwaysVideos = {"mp4", "mov", "m4v", "3gp"};
constexpr std::array<std::string_view, 10> unplayableVideos = {"mkv", "webm", "avi", "wmv", "flv",
                                                               "ogv", "rmvb", "vob", "mts", "m2ts"};
constexpr std::array<std::string_view, 17> movieTypes = {"mp4",  "mov",  "m4v", "3gp", "3g2", "mkv",
                                                         "webm", "avi",  "wmv", "asf", "flv", "ogv",
                                                         "rm",   "rmvb", "vob", "mpg", "mpeg"};
constexpr std::array<std::string_view, 2> moreMovieTypes = {"mts", "m2ts"};

// Directories shown as one document: not entered.
constexpr std::array<std::string_view, 18> packageExtensions = {
    "app",       "bundle",    "framework",     "plugin",    "kext",         "photoslibrary",
    "aplibrary", "fcpbundle", "imovielibrary", "tvlibrary", "musiclibrary", "rtfd",
    "pages",     "numbers",   "key",           "xcodeproj", "lrlibrary",    "dvdmedia"};

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& table, std::string_view value) {
  return std::find(table.begin(), table.end(), value) != table.end();
}

std::string lowercaseExtension(const std::filesystem::path& file) {
  std::string extension = file.extension().string();
  if (!extension.empty()) extension.erase(0, 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

bool isHidden(const std::filesystem::path& entry) {
  const std::string name = entry.filename().string();
  return !name.empty() && name[0] == '.';
}

bool isPackage(const std::filesystem::path& directory) {
  return contains(packageExtensions, lowercaseExtension(directory));
}

}  // namespace

const Scanner::Types& Scanner::Types::installed() {
  static const Types types = [] {
    Types built;
    for (const auto& [extension, loader] : imageTypes) {
      built.images.emplace(extension);
      if (!loader.empty() && ImageCodec::hasLoader(loader))
        built.decodableImages.emplace(extension);
    }
    for (auto extension : moreImageTypes) built.images.emplace(extension);
    for (auto extension : movieTypes) built.videos.emplace(extension);
    for (auto extension : moreMovieTypes) built.videos.emplace(extension);
    for (const auto& extension : built.videos) {
      if (VideoDecoder::canPlay(extension)) built.playableVideos.insert(extension);
    }
    return built;
  }();
  return types;
}

bool Scanner::isExcludedImage(std::string_view extension) {
  return contains(excludedImages, extension);
}
bool Scanner::isAlwaysVideo(std::string_view extension) {
  return contains(alwaysVideos, extension);
}
bool Scanner::isUnplayableVideo(std::string_view extension) {
  return contains(unplayableVideos, extension);
}

std::optional<MediaKind> Scanner::kind(const std::filesystem::path& file) {
  return kind(file, Types::installed());
}

std::optional<MediaKind> Scanner::kind(const std::filesystem::path& file, const Types& types) {
  const std::string extension = lowercaseExtension(file);
  if (extension.empty()) return std::nullopt;
  if (types.images.contains(extension)) {
    if (isExcludedImage(extension)) return std::nullopt;
    // A registered image our decoder can't read would only ever fail.
    if (!types.decodableImages.contains(extension)) return std::nullopt;
    return MediaKind::photo;
  }
  if (types.videos.contains(extension)) {
    if (types.playableVideos.contains(extension)) return MediaKind::video;
    if (isAlwaysVideo(extension)) return MediaKind::video;
    return std::nullopt;
  }
  return std::nullopt;
}

Scanner::Result Scanner::scan(const std::filesystem::path& root,
                              const std::function<bool()>& isCancelled) {
  return scan(root, isCancelled, Types::installed());
}

Scanner::Result Scanner::scan(const std::filesystem::path& root,
                              const std::function<bool()>& isCancelled, const Types& types) {
  namespace fs = std::filesystem;
  Result result;
  const std::string rootText = standardPath(root);
  const std::string rootPath = rootText == "/" ? rootText : rootText + "/";

  // The relative path of an entry of the walk.
  const auto relative = [&](const fs::path& item) {
    const std::string path = item.lexically_normal().string();
    return path.starts_with(rootPath) ? path.substr(rootPath.size()) : std::string();
  };

  std::error_code error;
  // Each open directory with its relative path.
  std::vector<std::pair<fs::directory_iterator, std::string>> stack;
  stack.emplace_back(fs::directory_iterator(fs::path(rootText), error), std::string());
  struct stat rootInfo {};
  if (error || ::stat(rootText.c_str(), &rootInfo) != 0) {
    result.unreadable.emplace_back();
    return result;
  }

  while (!stack.empty()) {
    auto& [current, directory] = stack.back();
    if (current == fs::directory_iterator()) {
      stack.pop_back();
      continue;
    }
    const fs::path item = current->path();
    current.increment(error);
    if (error) {
      // This directory can't be read further: what it holds beyond here is unknown.
      result.unreadable.push_back(directory);
      current = fs::directory_iterator();
      error.clear();
    }

    if (isCancelled && isCancelled()) break;
    if (isHidden(item)) continue;

    struct stat info {};
    if (::lstat(item.c_str(), &info) != 0) {
      // Gone since it was listed is a plain answer; anything else leaves it unknown.
      if (errno != ENOENT) result.unreadable.push_back(relative(item));
      continue;
    }
    if (S_ISDIR(info.st_mode)) {
      if (isPackage(item) || DriveBoundary::isMountPoint(item, info, rootInfo.st_dev)) continue;
      fs::directory_iterator inside(item, error);
      if (error) {
        if (error != std::errc::no_such_file_or_directory) {
          result.unreadable.push_back(relative(item));
        }
        error.clear();
        continue;
      }
      stack.emplace_back(std::move(inside), relative(item));
      continue;
    }
    if (!S_ISREG(info.st_mode)) continue;

    const auto found = kind(item, types);
    if (!found) {
      if (isUnplayableVideo(lowercaseExtension(item))) ++result.unsupportedVideos;
      continue;
    }
    const std::int64_t size = info.st_size;
    if (*found == MediaKind::photo && size < minimumPhotoBytes) continue;
    if (*found == MediaKind::video && size < minimumVideoBytes) continue;

    const std::string path = item.lexically_normal().string();
    if (!path.starts_with(rootPath) || path.size() == rootPath.size()) continue;
    ScannedFile file;
    file.relPath = path.substr(rootPath.size());
    file.kind = *found;
    file.size = size;
    file.mtime = static_cast<double>(info.st_mtim.tv_sec) + info.st_mtim.tv_nsec / 1e9;
    result.bytes += size;
    result.files.push_back(std::move(file));
  }
  return result;
}

}  // namespace quillmere
