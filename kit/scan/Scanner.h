// SPDX-License-Identifier: GPL-3.0-or-later
// Lists the photos and videos of one folder that are worth indexing, and counts the videos
// of formats this computer can't play.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/Records.h"

namespace quillmere {

class Scanner {
 public:
  struct Result {
    std::vector<ScannedFile> files;  // in enumeration order
    std::int64_t unsupportedVideos = 0;
    std::int64_t bytes = 0;  // sum of the files' sizes
    // Relative paths of the entries the walk could not read whole ("" for the root itself):
    // what lies under them is missing from files or only partly there.
    std::vector<std::string> unreadable;
    bool operator==(const Result&) const = default;
  };

  // What the type registry knows, as extension tables (lowercase, no dot). installed()
  // holds what this computer's decoders read; other tables stand in for other machines.
  struct Types {
    std::set<std::string, std::less<>> images;           // every image type, decodable or not
    std::set<std::string, std::less<>> decodableImages;  // those our image decoder reads
    std::set<std::string, std::less<>> videos;           // every movie or video type
    std::set<std::string, std::less<>> playableVideos;   // those FFmpeg demuxes and decodes

    // Built once per process, on first use.
    static const Types& installed();
  };

  static constexpr std::int64_t minimumPhotoBytes = 12000;
  static constexpr std::int64_t minimumVideoBytes = 50000;

  // Classifies one file by its name alone.
  static std::optional<MediaKind> kind(const std::filesystem::path& file);
  static std::optional<MediaKind> kind(const std::filesystem::path& file, const Types& types);

  // Walks the root (no symbolic links followed; hidden entries, packages and the mount
  // points of other drives below the root skipped). Never fails: a directory or entry that
  // can't be read (permissions, I/O errors, no file descriptors or memory left) is named in
  // unreadable and the walk goes on; a root that can't be opened, missing included, gives
  // no files and itself as unreadable; a cancelled walk gives a partial result.
  static Result scan(const std::filesystem::path& root, const std::function<bool()>& isCancelled);
  static Result scan(const std::filesystem::path& root, const std::function<bool()>& isCancelled,
                     const Types& types);

  // Never photos although images.
  static bool isExcludedImage(std::string_view extension);
  // Videos whenever the registry calls them movies.
  static bool isAlwaysVideo(std::string_view extension);
  // Counted in unsupportedVideos when no kind is found for them.
  static bool isUnplayableVideo(std::string_view extension);
};

}  // namespace quillmere
