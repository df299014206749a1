// SPDX-License-Identifier: GPL-3.0-or-later
// Photos per second of a whole indexing run (scan, decode, embed with the demo model,
// thumbnails, store) over a folder of 8-megapixel JPEGs, against vipsthumbnail making
// 384-pixel thumbnails of the same files in one process. Usage: index_photos [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>
#include "support/Measure.h"

#include "index/Library.h"
#include "indexer/Indexer.h"
#include "model/Embedder.h"
#include "platform/PowerMonitor.h"

namespace {

using namespace quillmere;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int photoCount = 56;

std::string shellQuote(const fs::path& path) {
  std::string out = "'";
  for (char c : path.string()) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

void shell(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

fs::path executableDirectory() {
  return fs::read_symlink("/proc/self/exe").parent_path();
}

// 56 distinct JPEGs of at least 8 megapixels, enlarged from the wallpaper photos with a
// different scale each, so none is a copy of another. Made once, kept beside the program.
std::vector<fs::path> makePhotos(const fs::path& folder) {
  std::vector<fs::path> sources;
  for (const auto& entry : fs::directory_iterator("/usr/share/backgrounds/mate/nature")) {
    if (entry.path().extension() == ".jpg") sources.push_back(entry.path());
  }
  std::sort(sources.begin(), sources.end());
  if (sources.empty()) throw std::runtime_error("no photos in /usr/share/backgrounds/mate/nature");
  fs::create_directories(folder);
  std::vector<fs::path> photos;
  for (int i = 0; i < photoCount; ++i) {
    const fs::path out = folder / ("photo" + std::to_string(i) + ".jpg");
    photos.push_back(out);
    if (fs::exists(out)) continue;
    const fs::path& source = sources[static_cast<std::size_t>(i) % sources.size()];
    // Width and height from vipsheader, then a scale to at least 8.3 megapixels.
    const fs::path size = folder / "size.txt";
    shell("vipsheader -f width " + shellQuote(source) + " > " + shellQuote(size) +
          " && vipsheader -f height " + shellQuote(source) + " >> " + shellQuote(size));
    double width = 0, height = 0;
    if (FILE* f = std::fopen(size.c_str(), "r")) {
      if (std::fscanf(f, "%lf %lf", &width, &height) != 2) width = height = 0;
      std::fclose(f);
    }
    if (width <= 0 || height <= 0)
      throw std::runtime_error("cannot read size of " + source.string());
    const double scale = std::sqrt(8.3e6 / (width * height)) + 0.04 * (i / sources.size());
    shell("vips resize " + shellQuote(source) + " " + shellQuote(out.string() + "[Q=90]") + " " +
          std::to_string(scale));
  }
  return photos;
}

using quillmere::bench::median;

double indexOnce(const fs::path& folder, const fs::path& work, Embedder& embedder) {
  fs::remove_all(work);
  fs::create_directories(work);
  Library library(work / "Library.sqlite", static_cast<std::size_t>(embedder.info().dim),
                  embedder.info().signature());
  library.addRoot(folder.string(), std::nullopt, std::nullopt, std::nullopt, false);
  Indexer indexer(library, embedder, Indexer::Policy{},
                  std::make_shared<PowerMonitor>("/nonexistent"));
  const auto start = Clock::now();
  indexer.run();
  indexer.waitUntilIdle();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const auto totals = library.totals();
  if (totals.indexed != photoCount) {
    throw std::runtime_error("indexed " + std::to_string(totals.indexed) + " of " +
                             std::to_string(photoCount));
  }
  return photoCount / seconds;
}

double thumbnailOnce(const std::vector<fs::path>& photos, const fs::path& work) {
  fs::remove_all(work);
  fs::create_directories(work);
  std::string command = "vipsthumbnail -s 384 -o " + shellQuote(work / "%s.jpg");
  for (const fs::path& photo : photos) command += " " + shellQuote(photo);
  const auto start = Clock::now();
  shell(command);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return static_cast<double>(photos.size()) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const fs::path base = executableDirectory() / "index_photos-data";
    const std::vector<fs::path> photos = makePhotos(base / "photos");
    fs::remove(base / "photos" / "size.txt");
    const auto modelDirectory = Embedder::defaultDirectory();
    if (!modelDirectory) throw std::runtime_error("no model directory");
    Embedder embedder(*modelDirectory);

    // Warm the page cache and the encoder's first load out of the measurement.
    thumbnailOnce(photos, base / "thumbs");
    indexOnce(base / "photos", base / "library", embedder);

    std::vector<double> ours, anchor;
    for (int round = 0; round < rounds; ++round) {
      ours.push_back(indexOnce(base / "photos", base / "library", embedder));
      anchor.push_back(thumbnailOnce(photos, base / "thumbs"));
      std::printf("round %d: indexing %.1f photos/s, vipsthumbnail %.1f photos/s\n", round + 1,
                  ours.back(), anchor.back());
    }
    const double a = median(ours), b = median(anchor);
    std::printf(
        "median: indexing %.1f photos/s, vipsthumbnail %.1f photos/s (%d photos, %d rounds)\n", a,
        b, photoCount, rounds);
    std::printf("ratio index_photos_per_second %.3f target >= 0.9\n", a / b);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "index_photos: %s\n", error.what());
    return 1;
  }
  return 0;
}
