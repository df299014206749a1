// SPDX-License-Identifier: GPL-3.0-or-later
// Media intake speed against the command-line tools of the same libraries, side by side:
//  - photos per second of FrameSampler::photo at 384 pixels over 60 JPEGs of 8-12
//    megapixels (made from the mate-backgrounds wallpapers), against one vipsthumbnail
//    process reducing the same files to the same size;
//  - seconds of video sampled per second for FrameSampler::video on a 10-minute 1080p
//    H.264 clip with 2-second keyframes, against ffmpeg decoding only the keyframes of the
//    same clip and scaling them to 384 pixels.
// The media are made once into ~/.cache/quillmere-bench (or $QUILLMERE_BENCH_MEDIA).
#include <benchmark/benchmark.h>
#include "support/Measure.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "scan/FrameSampler.h"

namespace {

namespace fs = std::filesystem;
using quillmere::FrameSampler;

constexpr int photoCount = 60;
constexpr double clipSeconds = 600;

std::string shellArg(const fs::path& path) {
  return "'" + path.string() + "'";
}

void run(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

fs::path mediaDirectory() {
  if (const char* set = std::getenv("QUILLMERE_BENCH_MEDIA")) return set;
  const char* home = std::getenv("HOME");
  return fs::path(home ? home : "/tmp") / ".cache" / "quillmere-bench";
}

// 60 large JPEGs: each wallpaper enlarged to 8.5-12 megapixels, five ways.
std::vector<fs::path> photos() {
  const fs::path dir = mediaDirectory() / "photos";
  fs::create_directories(dir);
  std::vector<fs::path> sources;
  for (const auto& entry : fs::directory_iterator("/usr/share/backgrounds/mate/nature")) {
    if (entry.path().extension() == ".jpg") sources.push_back(entry.path());
  }
  std::sort(sources.begin(), sources.end());
  if (sources.empty()) throw std::runtime_error("mate-backgrounds is not installed");
  std::vector<fs::path> files;
  for (int i = 0; i < photoCount; ++i) {
    const fs::path& source = sources[i % sources.size()];
    const fs::path file = dir / (source.stem().string() + "-" + std::to_string(i) + ".jpg");
    files.push_back(file);
    if (fs::exists(file)) continue;
    const double megapixels = 8.5 + (i / sources.size()) * 0.9;
    std::FILE* header = popen(
        ("vipsheader -f width " + shellArg(source) + " && vipsheader -f height " + shellArg(source))
            .c_str(),
        "r");
    int width = 0, height = 0;
    if (!header || std::fscanf(header, "%d %d", &width, &height) != 2)
      throw std::runtime_error("cannot read " + source.string());
    pclose(header);
    const double scale = std::sqrt(megapixels * 1e6 / (static_cast<double>(width) * height));
    const fs::path temporary = dir / "enlarging.v";
    run("vips resize " + shellArg(source) + " " + shellArg(temporary) + " " +
        std::to_string(scale) + " --kernel lanczos3");
    // Mirrored copies differ in every pixel from their source.
    const std::string flip =
        i % 2 ? "vips flip " + shellArg(temporary) + " " : "vips copy " + shellArg(temporary) + " ";
    run(flip + shellArg(file.string() + "[Q=90]") + (i % 2 ? " horizontal" : ""));
    fs::remove(temporary);
  }
  return files;
}

fs::path clip() {
  const fs::path file = mediaDirectory() / "clip-1080p-600s.mp4";
  if (fs::exists(file)) return file;
  fs::create_directories(file.parent_path());
  const fs::path partial = file.string() + ".partial.mp4";
  std::cerr << "making the 10-minute 1080p clip (a few minutes, once)\n";
  run("ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=s=1920x1080:r=24:d=600 -pix_fmt yuv420p "
      "-c:v libx264 -preset ultrafast -crf 26 -g 48 -keyint_min 48 -sc_threshold 0 " +
      shellArg(partial));
  fs::rename(partial, file);
  return file;
}

double seconds(std::chrono::steady_clock::duration elapsed) {
  return std::chrono::duration<double>(elapsed).count();
}

using quillmere::bench::median;

std::vector<fs::path> photoFiles;
fs::path clipFile;
// Throughputs of each round: photos per second, video seconds per second.
std::vector<double> photoOurs, photoAnchor, videoOurs, videoAnchor;

double timePhotosOurs() {
  const auto start = std::chrono::steady_clock::now();
  std::size_t pixels = 0;
  for (const auto& file : photoFiles) {
    const auto sampled = FrameSampler::photo(file, 384);
    pixels += sampled.frames.at(0).image.rgb.size();
  }
  benchmark::DoNotOptimize(pixels);
  return seconds(std::chrono::steady_clock::now() - start);
}

double timePhotosAnchor() {
  const fs::path out = mediaDirectory() / "thumbnails";
  fs::create_directories(out);
  std::string command = "vipsthumbnail -s 384 -o " + shellArg(out / "%s.jpg");
  for (const auto& file : photoFiles) command += " " + shellArg(file);
  const auto start = std::chrono::steady_clock::now();
  run(command);
  return seconds(std::chrono::steady_clock::now() - start);
}

double timeVideoOurs(double& sampledSeconds) {
  const auto start = std::chrono::steady_clock::now();
  const auto sampled = FrameSampler::video(clipFile);
  const double elapsed = seconds(std::chrono::steady_clock::now() - start);
  benchmark::DoNotOptimize(sampled.frames.size());
  sampledSeconds = sampled.duration;
  return elapsed;
}

double timeVideoAnchor() {
  const std::string command = "ffmpeg -nostdin -v error -skip_frame nokey -i " +
                              shellArg(clipFile) +
                              " -an -vf scale=384:-2 -vsync passthrough -f null -";
  const auto start = std::chrono::steady_clock::now();
  run(command);
  return seconds(std::chrono::steady_clock::now() - start);
}

// Each round runs both sides back to back, in alternating order, so that load from
// elsewhere on the machine falls on both alike.
void BM_Photo(benchmark::State& state) {
  for (auto _ : state) {
    const bool oursFirst = photoOurs.size() % 2 == 0;
    const double first = oursFirst ? timePhotosOurs() : timePhotosAnchor();
    const double second = oursFirst ? timePhotosAnchor() : timePhotosOurs();
    const double ours = oursFirst ? first : second, anchor = oursFirst ? second : first;
    photoOurs.push_back(photoFiles.size() / ours);
    photoAnchor.push_back(photoFiles.size() / anchor);
    state.SetIterationTime(ours);
    state.counters["ours_photos_per_s"] = photoOurs.back();
    state.counters["vipsthumbnail_photos_per_s"] = photoAnchor.back();
  }
}

void BM_Video(benchmark::State& state) {
  for (auto _ : state) {
    const bool oursFirst = videoOurs.size() % 2 == 0;
    double sampled = 0, ours = 0, anchor = 0;
    if (oursFirst) {
      ours = timeVideoOurs(sampled);
      anchor = timeVideoAnchor();
    } else {
      anchor = timeVideoAnchor();
      ours = timeVideoOurs(sampled);
    }
    videoOurs.push_back(sampled / ours);
    videoAnchor.push_back(clipSeconds / anchor);
    state.SetIterationTime(ours);
    state.counters["ours_video_s_per_s"] = videoOurs.back();
    state.counters["ffmpeg_video_s_per_s"] = videoAnchor.back();
  }
}

}  // namespace

int main(int argc, char** argv) {
  photoFiles = photos();
  clipFile = clip();
  constexpr int rounds = 5;
  for (auto* bench : {benchmark::RegisterBenchmark("photo", BM_Photo),
                      benchmark::RegisterBenchmark("video", BM_Video)}) {
    bench->Iterations(1)->Repetitions(rounds)->UseManualTime()->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  // A first pass of each side warms the page cache, so every round reads from memory.
  timePhotosOurs();
  timeVideoAnchor();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (photoOurs.empty() || photoAnchor.empty() || videoOurs.empty() || videoAnchor.empty())
    return 0;
  std::printf("photos per second: ours %.1f, vipsthumbnail %.1f (medians of %zu rounds)\n",
              median(photoOurs), median(photoAnchor), photoOurs.size());
  std::printf("video seconds per second: ours %.1f, ffmpeg keyframes %.1f\n", median(videoOurs),
              median(videoAnchor));
  std::printf("ratio photo_throughput %.3f target >= 1.0\n",
              median(photoOurs) / median(photoAnchor));
  std::printf("ratio video_throughput %.3f target >= 1.0\n",
              median(videoOurs) / median(videoAnchor));
  return 0;
}
