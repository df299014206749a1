// SPDX-License-Identifier: GPL-3.0-or-later
// Opening a large library against reading its frames with the sqlite3 command, and the
// throughput of saveFrames against the same statements run bare.
//
//   library_open [--frames N] [--rounds N] [--thumb BYTES] [--upgrade]
//
// The library (N frames of 768 components with thumbnails of BYTES, default 1,000,000 frames
// and 6,000 bytes, about what a 200-pixel JPEG takes) is built once and kept under the build
// tree; later runs reuse it when its shape matches. --upgrade instead builds a library of the
// first schema (each thumbnail in its frame's row), times opening it read-only as it is, then
// the opening that upgrades it, then openings of the upgraded file.
#include <benchmark/benchmark.h>
#include "support/Measure.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "index/Library.h"
#include "support/LibraryTestAccess.h"

namespace {

using namespace quillmere;
using Clock = std::chrono::steady_clock;

constexpr std::size_t dim = 768;
std::size_t thumbBytes = 6000;  // --thumb
constexpr std::int64_t framesPerFile = 20;
constexpr const char* signature = "bench/model@224";

double seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

using quillmere::bench::median;

std::string shapeText(std::int64_t frames) {
  return "frames=" + std::to_string(frames) + " dim=" + std::to_string(dim) +
         " thumb=" + std::to_string(thumbBytes) + " perFile=" + std::to_string(framesPerFile) +
         " schema=" + std::to_string(Library::schemaVersion);
}

// The shape recorded when the build finished; empty for a missing or unfinished file.
std::string storedShape(const std::filesystem::path& path) {
  if (!std::filesystem::exists(path)) return {};
  try {
    SQLite db(path.string());
    std::string shape;
    db.query("SELECT value FROM meta WHERE key='bench_shape'",
             [&](const SQLite::Row& row) { shape = row.text(0).value_or(""); });
    return shape;
  } catch (const SQLite::Failure&) {
    return {};
  }
}

Bytes randomVectorBlob(std::mt19937_64& random) {
  std::vector<float> values(dim);
  std::normal_distribution<float> normal;
  float norm = 0;
  for (float& v : values) {
    v = normal(random);
    norm += v * v;
  }
  for (float& v : values) v /= std::sqrt(norm);
  return encodeVector(halvesFromFloats(values));
}

Bytes randomBytes(std::mt19937_64& random, std::size_t n) {
  Bytes bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

void removeLibraryFiles(const std::filesystem::path& path) {
  for (const char* suffix : {"", "-wal", "-shm"}) {
    std::filesystem::remove(path.string() + suffix);
  }
}

// firstSchema: the layout of schema version 1, thumbnails in the frames' rows.
void buildLibrary(const std::filesystem::path& path, std::int64_t frames, bool firstSchema) {
  removeLibraryFiles(path);
  std::printf("building %s (%s)...\n", path.c_str(), shapeText(frames).c_str());
  std::fflush(stdout);
  const Clock::time_point start = Clock::now();
  Library library(path, dim, signature);
  Root root = library.addRoot("/bench/media", std::nullopt, std::nullopt, std::nullopt, false);
  SQLite& db = LibraryTestAccess::db(library);
  if (firstSchema) {
    db.exec(
        "DROP TABLE thumbs; ALTER TABLE frames ADD COLUMN thumb BLOB;"
        "UPDATE meta SET value='1' WHERE key='schema'");
  }
  std::mt19937_64 random(42);
  // A pool of vectors keeps building quick; the rows still differ from their neighbours.
  std::vector<Bytes> pool;
  for (int i = 0; i < 997; ++i) pool.push_back(randomVectorBlob(random));
  const std::int64_t files = (frames + framesPerFile - 1) / framesPerFile;
  std::int64_t written = 0;
  for (std::int64_t first = 0; first < files; first += 500) {
    db.transaction([&] {
      for (std::int64_t f = first; f < std::min(files, first + 500); ++f) {
        const bool isVideo = f % 10 == 0;
        const std::string relPath = "folder" + std::to_string(f / 1000) + "/" + std::to_string(f) +
                                    (isVideo ? ".mp4" : ".jpg");
        const std::int64_t fileID = db.run(
            "INSERT INTO files(root_id, rel_path, kind, size, mtime, duration, width, height, "
            "state) VALUES(?,?,?,?,?,?,?,?,1)",
            {root.id, relPath, isVideo ? 1 : 0, 1'000'000 + f, 1.7e9 + f, isVideo ? 60.0 : 0.0,
             1920, 1080});
        for (std::int64_t k = 0; k < framesPerFile && written < frames; ++k, ++written) {
          const double t = 2.0 * static_cast<double>(k);
          const Bytes& vec = pool[written % pool.size()];
          if (firstSchema) {
            db.run("INSERT INTO frames(file_id, t, vec, thumb) VALUES(?,?,?,?)",
                   {fileID, t, vec, randomBytes(random, thumbBytes)});
            continue;
          }
          const std::int64_t id =
              db.run("INSERT INTO frames(file_id, t, vec) VALUES(?,?,?)", {fileID, t, vec});
          db.run("INSERT INTO thumbs(frame_id, jpeg) VALUES(?,?)",
                 {id, randomBytes(random, thumbBytes)});
        }
      }
    });
  }
  db.run("INSERT OR REPLACE INTO meta(key, value) VALUES('bench_shape', ?)", {shapeText(frames)});
  db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
  std::printf("built in %.1f s\n", seconds(Clock::now() - start));
}

double timeOpening(const std::filesystem::path& path, std::size_t& loaded,
                   Library::Opening opening = Library::Opening::adopt) {
  const Clock::time_point start = Clock::now();
  auto library = std::make_unique<Library>(path, dim, signature, opening);
  const double elapsed = seconds(Clock::now() - start);
  loaded = library->vectors().count();
  benchmark::DoNotOptimize(library.get());
  return elapsed;
}

double timeSqliteCommand(const std::filesystem::path& path) {
  const std::string command = "sqlite3 '" + path.string() +
                              "' 'SELECT id, file_id, t, vec FROM frames ORDER BY id' > /dev/null";
  const Clock::time_point start = Clock::now();
  const int status = std::system(command.c_str());
  const double elapsed = seconds(Clock::now() - start);
  if (status != 0) {
    std::fprintf(stderr, "sqlite3 failed (%d)\n", status);
    std::exit(1);
  }
  return elapsed;
}

// Files of one frame each, stored 16 to a batch: through the library, or as the same
// statements in the same transactions without the vector index and the caches.
struct SaveRun {
  double library = 0;
  double bare = 0;
};

SaveRun timeSaving(const std::filesystem::path& dir, std::size_t files, bool bareFirst) {
  std::mt19937_64 random(7);
  std::vector<FrameRecord> frames;
  for (std::size_t i = 0; i < files; ++i) {
    Bytes blob = randomVectorBlob(random);
    std::vector<Half> vector(dim);
    for (std::size_t c = 0; c < dim; ++c)
      vector[c] = static_cast<Half>(blob[2 * c] | blob[2 * c + 1] << 8);
    frames.push_back({.time = 0, .vector = vector, .thumbnail = randomBytes(random, thumbBytes)});
  }
  std::vector<ScannedFile> listing;
  for (std::size_t i = 0; i < files; ++i) {
    listing.push_back({.relPath = std::to_string(i) + ".jpg", .size = 1000, .mtime = 1.7e9});
  }
  SaveRun run;
  for (int pass = 0; pass < 2; ++pass) {
    const int variant = bareFirst ? 1 - pass : pass;  // 0: the library, 1: bare statements
    const std::filesystem::path path = dir / (variant == 0 ? "save.sqlite" : "bare.sqlite");
    removeLibraryFiles(path);
    Library library(path, dim, signature);
    Root root = library.addRoot("/bench/save", std::nullopt, std::nullopt, std::nullopt, false);
    library.applyScan(root.id, listing);
    std::vector<MediaFile> pending = LibraryTestAccess::pending(library, {root.id});
    // The batches are made before the clock starts: only storing them is timed.
    std::vector<std::vector<Library::FrameBatchEntry>> batches;
    for (std::size_t first = 0; first < pending.size(); first += 16) {
      std::vector<Library::FrameBatchEntry>& batch = batches.emplace_back();
      for (std::size_t i = first; i < std::min(pending.size(), first + 16); ++i) {
        batch.push_back({.file = pending[i], .frames = {frames[i]}, .width = 640, .height = 480});
      }
    }
    SQLite& db = LibraryTestAccess::db(library);
    const Clock::time_point start = Clock::now();
    for (const std::vector<Library::FrameBatchEntry>& batch : batches) {
      if (variant == 0) {
        library.saveFrames(batch);
        continue;
      }
      db.transaction([&] {
        for (const Library::FrameBatchEntry& entry : batch) {
          const FrameRecord& frame = entry.frames.front();
          db.run("DELETE FROM frames WHERE file_id=?", {entry.file.id});
          const std::int64_t id = db.run("INSERT INTO frames(file_id, t, vec) VALUES(?,?,?)",
                                         {entry.file.id, frame.time, encodeVector(frame.vector)});
          db.run("INSERT INTO thumbs(frame_id, jpeg) VALUES(?,?)", {id, frame.thumbnail});
          db.run("UPDATE files SET state=1, error=NULL, duration=?, width=?, height=? WHERE id=?",
                 {entry.duration, entry.width, entry.height, entry.file.id});
        }
      });
    }
    (variant == 0 ? run.library : run.bare) = seconds(Clock::now() - start);
  }
  removeLibraryFiles(dir / "save.sqlite");
  removeLibraryFiles(dir / "bare.sqlite");
  return run;
}

double medianOpening(const std::filesystem::path& path, int rounds, Library::Opening opening) {
  std::size_t loaded = 0;
  std::vector<double> times;
  for (int round = 0; round < rounds; ++round) times.push_back(timeOpening(path, loaded, opening));
  return median(times);
}

// The first schema's library opened as it is, upgraded, and opened upgraded.
int upgrade(const std::filesystem::path& dir, std::int64_t frames, int rounds) {
  const std::filesystem::path path = dir / ("Library-first-" + std::to_string(frames) + ".sqlite");
  buildLibrary(path, frames, true);
  std::printf("library %s, %.2f GB\n", path.c_str(),
              static_cast<double>(std::filesystem::file_size(path)) / 1e9);
  std::size_t loaded = 0;
  timeOpening(path, loaded, Library::Opening::readOnly);  // into the page cache
  const double before = medianOpening(path, rounds, Library::Opening::readOnly);
  const Clock::time_point start = Clock::now();
  Library(path, dim, signature, Library::Opening::adopt, [](double fraction) {
    std::printf("\rupgrading %3.0f%%", fraction * 100);
    std::fflush(stdout);
  });
  const double upgrading = seconds(Clock::now() - start);
  timeOpening(path, loaded);
  const double after = medianOpening(path, rounds, Library::Opening::adopt);
  removeLibraryFiles(path);
  std::printf("\nupgrade %.1f s; open median: first schema %.3f s, upgraded %.3f s\n", upgrading,
              before, after);
  std::printf("ratio upgraded/first_schema_open %.3f\n", after / before);
  return loaded == static_cast<std::size_t>(frames) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::int64_t frames = 1'000'000;
  int rounds = 5;
  bool upgradeOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--upgrade") {
      upgradeOnly = true;
    } else if (i + 1 < argc && option == "--frames") {
      frames = std::atoll(argv[++i]);
    } else if (i + 1 < argc && option == "--rounds") {
      rounds = std::atoi(argv[++i]);
    } else if (i + 1 < argc && option == "--thumb") {
      thumbBytes = static_cast<std::size_t>(std::atoll(argv[++i]));
    }
  }
  if (frames < 1 || rounds < 1) {
    std::fprintf(stderr,
                 "usage: library_open [--frames N] [--rounds N] [--thumb BYTES] [--upgrade]\n");
    return 2;
  }
  const std::filesystem::path dir = std::filesystem::path(QUILLMERE_BENCH_DIR) / "library_open";
  std::filesystem::create_directories(dir);
  if (upgradeOnly) return upgrade(dir, frames, rounds);
  const std::filesystem::path path = dir / ("Library-" + std::to_string(frames) + ".sqlite");
  if (storedShape(path) != shapeText(frames)) buildLibrary(path, frames, false);
  std::printf("library %s, %.2f GB\n", path.c_str(),
              static_cast<double>(std::filesystem::file_size(path)) / 1e9);

  // One untimed pass of each brings the file into the page cache.
  std::size_t loaded = 0;
  timeOpening(path, loaded);
  timeSqliteCommand(path);
  std::vector<double> ours, anchor;
  for (int round = 0; round < rounds; ++round) {
    // Alternate which one goes first, so neither always meets a colder cache.
    if (round % 2 == 0) {
      ours.push_back(timeOpening(path, loaded));
      anchor.push_back(timeSqliteCommand(path));
    } else {
      anchor.push_back(timeSqliteCommand(path));
      ours.push_back(timeOpening(path, loaded));
    }
    std::printf("round %d: Library(filePath:dim:modelSignature:) %.3f s, sqlite3 %.3f s\n",
                round + 1, ours.back(), anchor.back());
    std::fflush(stdout);
  }
  if (loaded != static_cast<std::size_t>(frames)) {
    std::fprintf(stderr, "loaded %zu vectors, expected %lld\n", loaded,
                 static_cast<long long>(frames));
    return 1;
  }
  const double openMedian = median(ours);
  const double sqliteMedian = median(anchor);
  std::printf("open median %.3f s (%zu vectors), sqlite3 median %.3f s\n", openMedian, loaded,
              sqliteMedian);

  constexpr std::size_t saveFiles = 4096;
  std::vector<double> saveOurs, saveBare;
  for (int round = 0; round < std::min(rounds, 5); ++round) {
    SaveRun run = timeSaving(dir, saveFiles, round % 2 == 1);
    saveOurs.push_back(static_cast<double>(saveFiles) / run.library);
    saveBare.push_back(static_cast<double>(saveFiles) / run.bare);
  }
  const double saveMedian = median(saveOurs);
  const double bareMedian = median(saveBare);
  std::printf(
      "saveFrames %.0f frames/s (batches of 16 one-frame files), bare statements %.0f frames/s\n",
      saveMedian, bareMedian);
  std::printf("ratio library_open %.3f target <= 1.3\n", openMedian / sqliteMedian);
  std::printf("ratio saveFrames_throughput %.3f target >= 0.8\n", saveMedian / bareMedian);
  return 0;
}
