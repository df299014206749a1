// SPDX-License-Identifier: GPL-3.0-or-later
// What a request during a run costs the run with a million files pending, against the full
// copy and sort of the pending list that such a request used to cost:
//   - ours: the look the run takes on a request (the pending counts and bytes of its
//     folders) and its first batch of 16 from the front of the kept order;
//   - anchor: every pending file copied out of the library, sorted into indexing order,
//     and its bytes summed.
// Also the cost of taking each following batch, and of a scan that adds files to the order.
//
//   pending_order [--files N] [--rounds N]
#include <benchmark/benchmark.h>
#include "support/Measure.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "index/Library.h"

namespace {

using namespace quillmere;
using quillmere::bench::median;
using quillmere::bench::millisecondsOf;

// One photo in ten is a video; sizes and times spread so that the order is not the ids'.
std::vector<ScannedFile> listing(std::int64_t files, const std::string& prefix) {
  std::vector<ScannedFile> entries;
  entries.reserve(static_cast<std::size_t>(files));
  for (std::int64_t i = 0; i < files; ++i) {
    const bool video = i % 10 == 0;
    entries.push_back({.relPath = prefix + std::to_string(i / 1000) + "/" + std::to_string(i) +
                                  (video ? ".mp4" : ".jpg"),
                       .kind = video ? MediaKind::video : MediaKind::photo,
                       .size = 1'000'000 + (i * 7919) % 5'000'000,
                       .mtime = 1.7e9 + static_cast<double>((i * 104729) % 1'000'003)});
  }
  return entries;
}

// The request as it was: the whole pending list copied, sorted and counted.
std::int64_t fullSort(const Library& library, const std::set<std::int64_t>& roots) {
  std::vector<MediaFile> list;
  for (const MediaFile& file : library.allFiles()) {
    if (file.state == FileState::pending && roots.contains(file.rootID)) list.push_back(file);
  }
  std::sort(list.begin(), list.end(), [](const MediaFile& a, const MediaFile& b) {
    if (a.kind != b.kind) return a.kind == MediaKind::photo;
    if (a.kind == MediaKind::photo && a.mtime != b.mtime) return a.mtime > b.mtime;
    if (a.kind == MediaKind::video && a.size != b.size) return a.size < b.size;
    return a.id < b.id;
  });
  std::int64_t bytes = 0;
  for (const MediaFile& file : list) bytes += file.size;
  return bytes + list.front().id;
}

// The request as it is now: the counts of the run's folders and the first batch.
std::int64_t look(const Library& library, const std::set<std::int64_t>& roots) {
  const PendingOrder::Sums sums = library.pendingSums(roots);
  const std::vector<MediaFile> batch = library.pendingAfter(roots, std::nullopt, 16);
  return sums.photoBytes + sums.videoBytes + batch.front().id;
}

}  // namespace

int main(int argc, char** argv) {
  std::int64_t files = 1'000'000;
  int rounds = 9;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--files") files = std::atoll(argv[i + 1]);
    if (option == "--rounds") rounds = std::atoi(argv[i + 1]);
  }
  if (files < 1000 || rounds < 1) {
    std::fprintf(stderr, "usage: pending_order [--files N >= 1000] [--rounds N]\n");
    return 2;
  }
  const std::filesystem::path dir = std::filesystem::path(QUILLMERE_BENCH_DIR) / "pending_order";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  {
    Library library(dir / "Library.sqlite", 16, "bench/model@224");
    const Root big = library.addRoot("/bench/big", std::nullopt, std::nullopt, std::nullopt, false);
    const Root small =
        library.addRoot("/bench/small", std::nullopt, std::nullopt, std::nullopt, false);
    const std::set<std::int64_t> roots{big.id, small.id};
    const double listed = millisecondsOf([&] { library.applyScan(big.id, listing(files, "f")); });
    library.applyScan(small.id, listing(1000, "s"));
    std::printf("%lld files pending in two folders (the scan that added them: %.0f ms)\n",
                static_cast<long long>(files + 1000), listed);

    constexpr int requests = 1000;
    std::vector<double> ours, anchor, batches, scans;
    for (int round = 0; round < rounds; ++round) {
      std::int64_t sink = 0;
      anchor.push_back(millisecondsOf([&] { sink += fullSort(library, roots); }));
      ours.push_back(millisecondsOf([&] {
                       for (int r = 0; r < requests; ++r) sink += look(library, roots);
                     }) /
                     requests);
      // The batches that follow a request, 16 at a time from where the last one ended.
      batches.push_back(millisecondsOf([&] {
                          std::optional<PendingOrder::Key> after;
                          for (int b = 0; b < requests; ++b) {
                            const auto batch = library.pendingAfter(roots, after, 16);
                            after = PendingOrder::Key::of(batch.back());
                          }
                        }) /
                        requests);
      // A scan of the small folder that finds 100 new files, all taken into the order.
      std::vector<ScannedFile> grown = listing(1000, "s");
      for (ScannedFile entry : listing(100, "n" + std::to_string(round))) grown.push_back(entry);
      scans.push_back(millisecondsOf([&] { library.applyScan(small.id, grown); }));
      benchmark::DoNotOptimize(sink);
      std::printf("round %d: full sort %.1f ms, request %.2f us, next batch %.2f us\n", round + 1,
                  anchor.back(), 1000 * ours.back(), 1000 * batches.back());
      std::fflush(stdout);
    }
    std::printf(
        "medians: full sort %.1f ms; request %.2f us; next batch %.2f us; scan of the small "
        "folder adding 100 files %.1f ms\n",
        median(anchor), 1000 * median(ours), 1000 * median(batches), median(scans));
    std::printf("ratio pending_request %.7f target <= 0.001\n", median(ours) / median(anchor));
  }
  std::filesystem::remove_all(dir);
  return 0;
}
