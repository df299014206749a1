// SPDX-License-Identifier: GPL-3.0-or-later
// Photos per second of a whole indexing run (scan, decode, embed, thumbnails, store) over a
// folder of 8-megapixel JPEGs:
//   - with the demo model, against vipsthumbnail making 384-pixel thumbnails of the same files
//     in one process;
//   - with the ViT-B/16-sized float encoder, reading text on against off, on the same photos
//     where one in four carries words (drawn as the reader's tests draw them);
//   - with the ViT-B/16-sized encoders (float and int8), against the limit of a machine whose
//     cores decode and embed in turn: 1 / (decode time + embed time per photo), each measured
//     alone with all cores on the same photos (decoding as the indexer does, embedding in
//     the indexer's runs). The three are measured in every round, in an order that turns
//     from round to round, so that load from outside weighs on them alike.
// Everything runs at the indexer's background priority.
//   - with "faces", the float ViT-B/16-sized encoder with the face stage on and off, turning
//     rounds: photos per second with faces against without.
// Usage: index_photos [ROUNDS] [batches|reading|faces]; with "batches", only the encoders alone
// at batch sizes 4 to 32 and on one thread; with "reading" or "faces", only that stage on
// against off.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>
#include "support/DrawnWords.h"
#include "support/Measure.h"

#include "core/Picture.h"
#include "engine/FaceFinding.h"
#include "index/Library.h"
#include "indexer/FaceStage.h"
#include "indexer/Indexer.h"
#include "indexer/TextStage.h"
#include "model/Embedder.h"
#include "platform/ImageCodec.h"
#include "platform/PowerMonitor.h"
#include "platform/ResourceLocator.h"
#include "platform/ThreadPriority.h"
#include "scan/FrameSampler.h"

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

// The same photos, one in four with two lines of words drawn about 2 % of its height high.
std::vector<fs::path> makeWordedPhotos(const std::vector<fs::path>& photos,
                                       const fs::path& folder) {
  const char* lines[] = {"Hotel Receipt",   "Platform 7 Departures", "Budget Summary",
                         "Trailhead North", "Error Code 404",        "Summer Sale"};
  fs::create_directories(folder);
  std::vector<fs::path> worded;
  for (std::size_t i = 0; i < photos.size(); ++i) {
    const fs::path out = folder / photos[i].filename();
    worded.push_back(out);
    if (fs::exists(out)) continue;
    if (i % 4 != 0) {
      fs::copy_file(photos[i], out);
      continue;
    }
    auto picture = ImageCodec::thumbnail(photos[i], 1 << 14);
    if (!picture) throw std::runtime_error("cannot decode " + photos[i].string());
    const int pixels = picture->height / 45;
    for (int k = 0; k < 2; ++k) {
      const bool drawn =
          quillmere::draw(*picture, {.text = lines[(i / 4 + k) % std::size(lines)],
                                     .font = "DejaVu Sans Bold " + std::to_string(pixels),
                                     .x = picture->width / 8,
                                     .y = picture->height / 4 + k * picture->height / 3});
      if (!drawn) throw std::runtime_error("libvips could not draw the words");
    }
    const auto jpeg = ImageCodec::encodeJpeg(*picture, 90);
    if (!jpeg) throw std::runtime_error("cannot encode " + out.string());
    std::FILE* f = std::fopen(out.c_str(), "wb");
    if (!f || std::fwrite(jpeg->data(), 1, jpeg->size(), f) != jpeg->size()) {
      if (f) std::fclose(f);
      throw std::runtime_error("cannot write " + out.string());
    }
    std::fclose(f);
  }
  return worded;
}

double indexOnce(const fs::path& folder, const fs::path& work, Embedder& embedder,
                 std::shared_ptr<Stage> stage = nullptr) {
  fs::remove_all(work);
  fs::create_directories(work);
  Library library(work / "Library.sqlite", static_cast<std::size_t>(embedder.info().dim),
                  embedder.info().signature());
  library.addRoot(folder.string(), std::nullopt, std::nullopt, std::nullopt, false);
  Indexer indexer(library, embedder, Indexer::Policy{},
                  std::make_shared<PowerMonitor>("/nonexistent"));
  if (stage) indexer.addStage(std::move(stage));
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

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The indexer's decode of each photo (header, picture for the encoder, thumbnail), a batch at
// a time on one worker per hardware thread. Returns photos per second; fills pictures.
double decodeOnce(const std::vector<fs::path>& photos, std::vector<Picture>& pictures) {
  pictures.assign(photos.size(), Picture{});
  const auto start = Clock::now();
  for (std::size_t first = 0; first < photos.size(); first += Indexer::photoBatch) {
    const std::size_t end = std::min(photos.size(), first + Indexer::photoBatch);
    std::atomic<std::size_t> next = first;
    const auto work = [&] {
      for (std::size_t i = next++; i < end; i = next++) {
        const auto header = ImageCodec::header(photos[i]);
        if (!header) throw std::runtime_error("unreadable: " + photos[i].string());
        auto sampled = FrameSampler::photo(photos[i], *header, Indexer::embedPixels);
        if (sampled.frames.empty()) throw std::runtime_error("no frame: " + photos[i].string());
        FrameSampler::thumbnailData(sampled.frames.front().image, Indexer::thumbnailPixels);
        pictures[i] = std::move(sampled.frames.front().image);
      }
    };
    std::vector<std::jthread> helpers;
    for (unsigned w = 1; w < std::max(1u, std::thread::hardware_concurrency()); ++w) {
      helpers.emplace_back(work);
    }
    work();
  }
  return static_cast<double>(photos.size()) / secondsSince(start);
}

// The encoder alone on the decoded pictures, in runs of `batch` (the indexer's by default).
// Photos per second.
double embedOnce(const std::vector<Picture>& pictures, Embedder& embedder,
                 std::size_t batch = Indexer::embedBatch) {
  const auto start = Clock::now();
  for (std::size_t first = 0; first < pictures.size(); first += batch) {
    const std::size_t count = std::min(pictures.size() - first, batch);
    if (embedder.embed(std::span(pictures).subspan(first, count)).size() != count) {
      throw std::runtime_error("the encoder returned too few vectors");
    }
  }
  return static_cast<double>(pictures.size()) / secondsSince(start);
}

double loadAverage() {
  double load = 0;
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &load) != 1) load = 0;
    std::fclose(f);
  }
  return load;
}

// Indexing with one of the ViT-B/16-sized encoders against the decode-then-embed limit.
void againstLimit(const char* name, const fs::path& model, const fs::path& base,
                  const std::vector<fs::path>& photos, int rounds) {
  Embedder embedder(model);
  std::vector<Picture> pictures;
  decodeOnce(photos, pictures);
  embedOnce(pictures, embedder);  // loads the encoder
  std::vector<double> decodes, embeds, indexes, limits, ratios;
  for (int round = 0; round < rounds; ++round) {
    double decode = 0, embed = 0, index = 0;
    for (int k = 0; k < 3; ++k) {
      switch ((round + k) % 3) {
        case 0:
          decode = decodeOnce(photos, pictures);
          break;
        case 1:
          embed = embedOnce(pictures, embedder);
          break;
        default:
          index = indexOnce(base / "photos", base / "library", embedder);
      }
    }
    decodes.push_back(decode);
    embeds.push_back(embed);
    indexes.push_back(index);
    limits.push_back(1 / (1 / decode + 1 / embed));
    ratios.push_back(index / limits.back());
    std::printf(
        "%s round %d: decode alone %.2f photos/s, embed alone %.2f, limit %.2f, indexing %.2f "
        "(%.3f of it; load %.2f)\n",
        name, round + 1, decode, embed, limits.back(), index, index / limits.back(), loadAverage());
    std::fflush(stdout);
  }
  std::printf(
      "%s median: decode alone %.2f photos/s, embed alone %.2f, limit %.2f, indexing %.2f "
      "(%d photos, batches of %zu embedded %zu at a time, %d rounds)\n",
      name, median(decodes), median(embeds), median(limits), median(indexes), photoCount,
      Indexer::photoBatch, Indexer::embedBatch, rounds);
  // The median of the rounds' ratios: each round's three figures saw the same load.
  std::printf("ratio index_photos_%s/limit %.3f target >= 0.9\n", name, median(ratios));
}

// Indexing with reading text on against off, in turns, on the worded photos.
void readingOnAndOff(const fs::path& model, const fs::path& base,
                     const std::vector<fs::path>& photos, int rounds) {
  const auto resources = ResourceLocator::resourcesDirectory();
  if (!resources || !fs::exists(*resources / "TextModel")) {
    std::printf("reading on and off: no text model installed, not measured\n");
    return;
  }
  makeWordedPhotos(photos, base / "worded");
  Embedder embedder(model);
  const auto reading = [&] { return std::make_shared<TextStage>(*resources / "TextModel"); };
  indexOnce(base / "worded", base / "library", embedder, reading());  // warms both
  std::vector<double> off, on, ratios;
  for (int round = 0; round < rounds; ++round) {
    double without = 0, with = 0;
    for (int k = 0; k < 2; ++k) {
      if ((round + k) % 2 == 0) {
        without = indexOnce(base / "worded", base / "library", embedder);
      } else {
        with = indexOnce(base / "worded", base / "library", embedder, reading());
      }
    }
    off.push_back(without);
    on.push_back(with);
    ratios.push_back(with / without);
    std::printf("reading round %d: off %.2f photos/s, on %.2f (%.3f; load %.2f)\n", round + 1,
                without, with, with / without, loadAverage());
    std::fflush(stdout);
  }
  std::printf("reading median: off %.2f photos/s, on %.2f (%d photos, one in four with words)\n",
              median(off), median(on), photoCount);
  std::printf("ratio index_photos_reading/not_reading %.3f target >= 0.6\n", median(ratios));
}

// The encoder alone at other batch sizes and on one intra-op thread, turning rounds: where
// it runs fastest, and what a second core gives it.
void batchSizes(const char* name, const fs::path& model, const std::vector<fs::path>& photos,
                int rounds) {
  Embedder all(model);
  Embedder one(model, Embedder::ComputeUnits::oneThread());
  std::vector<Picture> pictures;
  decodeOnce(photos, pictures);
  const std::size_t sizes[] = {4, 8, 16, 32};
  std::vector<std::vector<double>> rates(std::size(sizes) + 1);
  embedOnce(pictures, all);
  embedOnce(pictures, one);
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t k = 0; k < rates.size(); ++k) {
      const std::size_t which = (k + static_cast<std::size_t>(round)) % rates.size();
      rates[which].push_back(which < std::size(sizes) ? embedOnce(pictures, all, sizes[which])
                                                      : embedOnce(pictures, one));
    }
  }
  std::printf("%s embed alone, photos/s (median of %d rounds, load %.2f):", name, rounds,
              loadAverage());
  for (std::size_t k = 0; k < std::size(sizes); ++k) {
    std::printf(" batch %zu: %.2f;", sizes[k], median(rates[k]));
  }
  std::printf(" batch %zu on one thread: %.2f\n", Indexer::embedBatch, median(rates.back()));
  std::fflush(stdout);
}

// Indexing with the face stage on against off, turning rounds, the float encoder.
void facesOnAndOff(const fs::path& base, int rounds) {
  const FaceFinding faces = FaceFinding::open(true);
  if (faces.state() != FaceFinding::State::on) throw std::runtime_error("no usable face model");
  Embedder embedder(EMBEDDER_VIT_DIR);
  const auto finding = [&] { return std::make_shared<FaceStage>(*faces.directory()); };
  indexOnce(base / "photos", base / "library", embedder, finding());  // loads both
  std::vector<double> on, off, ratios;
  for (int round = 0; round < rounds; ++round) {
    double with = 0, without = 0;
    for (int k = 0; k < 2; ++k) {
      if ((round + k) % 2 == 0) {
        with = indexOnce(base / "photos", base / "library", embedder, finding());
      } else {
        without = indexOnce(base / "photos", base / "library", embedder);
      }
    }
    on.push_back(with);
    off.push_back(without);
    ratios.push_back(with / without);
    std::printf("faces round %d: with faces %.2f photos/s, without %.2f (load %.2f)\n", round + 1,
                with, without, loadAverage());
    std::fflush(stdout);
  }
  std::printf("faces median: with faces %.2f photos/s, without %.2f (%d photos, %d rounds)\n",
              median(on), median(off), photoCount, rounds);
  std::printf("ratio index_photos_faces_on/off %.3f target >= 0.8\n", median(ratios));
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string only = argc > 2 ? argv[2] : "";
    const bool sizesOnly = only == "batches";
    // The indexer's threads run at this priority: the limit is measured as they would see it.
    ThreadPriority::background();
    const fs::path base = executableDirectory() / "index_photos-data";
    const std::vector<fs::path> photos = makePhotos(base / "photos");
    fs::remove(base / "photos" / "size.txt");
    if (only == "faces") {
      facesOnAndOff(base, rounds);
      return 0;
    }
    if (sizesOnly) {
      batchSizes("float", EMBEDDER_VIT_DIR, photos, rounds);
      batchSizes("int8", EMBEDDER_VIT_INT8_DIR, photos, rounds);
      return 0;
    }
    if (only == "reading") {
      readingOnAndOff(EMBEDDER_VIT_DIR, base, photos, rounds);
      return 0;
    }
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
    std::fflush(stdout);
    readingOnAndOff(EMBEDDER_VIT_DIR, base, photos, rounds);
    againstLimit("float", EMBEDDER_VIT_DIR, base, photos, rounds);
    againstLimit("int8", EMBEDDER_VIT_INT8_DIR, base, photos, rounds);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "index_photos: %s\n", error.what());
    return 1;
  }
  return 0;
}
