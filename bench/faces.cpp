// SPDX-License-Identifier: GPL-3.0-or-later
// The face pipeline against a plain reference, on the group photos of third_party/face-photos
// at the size the indexer hands the stage (1280 pixels), as they are and mirrored:
//   - faces per second by FaceFinder beside a reference written plainly here: the same two
//     ONNX graphs and session options, the same views (the whole picture and its tiles), its
//     own bilinear resizes, anchor decoding, weighted merging and an inverse-mapped bilinear
//     warp onto the embedder's template, by hand; paired rounds, the median of the pairs'
//     ratios;
//   - the same faces: each reference box found by ours with intersection over union >= 0.9,
//     and the two vectors' cosine, the smallest of all.
// Everything runs at background priority, where our sessions' workers run.
#include <benchmark/benchmark.h>
#include <onnxruntime_cxx_api.h>
#include <vips/vips.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "faces/FaceFinder.h"
#include "faces/FaceModel.h"
#include "model/RuntimeEnvironment.h"
#include "platform/ImageCodec.h"
#include "platform/ResourceLocator.h"
#include "platform/ThreadPriority.h"
#include "support/Measure.h"

namespace {

using quillmere::FaceModel;
using quillmere::Picture;
using quillmere::bench::median;
using quillmere::bench::millisecondsOf;

constexpr int kRounds = 5;

struct Box {
  double left = 0, top = 0, right = 0, bottom = 0;
  std::array<double, 12> points{};  // six keypoints, x then y
  float score = 0;
};

double iou(const Box& a, const Box& b) {
  const double w = std::max(0.0, std::min(a.right, b.right) - std::max(a.left, b.left));
  const double h = std::max(0.0, std::min(a.bottom, b.bottom) - std::max(a.top, b.top));
  const double common = w * h;
  const double either =
      (a.right - a.left) * (a.bottom - a.top) + (b.right - b.left) * (b.bottom - b.top) - common;
  return either > 0 ? common / either : 0;
}

// Bilinear sample of channel c at (x, y), edges repeated.
float sample(const Picture& p, double x, double y, int c) {
  x = std::clamp(x, 0.0, p.width - 1.0);
  y = std::clamp(y, 0.0, p.height - 1.0);
  const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
  const int x1 = std::min(x0 + 1, p.width - 1), y1 = std::min(y0 + 1, p.height - 1);
  const double fx = x - x0, fy = y - y0;
  const auto at = [&](int xx, int yy) { return p.rgb[(std::size_t(yy) * p.width + xx) * 3 + c]; };
  return static_cast<float>((at(x0, y0) * (1 - fx) + at(x1, y0) * fx) * (1 - fy) +
                            (at(x0, y1) * (1 - fx) + at(x1, y1) * fx) * fy);
}

Ort::SessionOptions options() {
  Ort::SessionOptions o;
  o.SetIntraOpNumThreads(static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
  o.SetInterOpNumThreads(1);
  o.SetExecutionMode(ExecutionMode::ORT_SEQUENTIAL);
  o.SetGraphOptimizationLevel(GraphOptimizationLevel::ORT_ENABLE_ALL);
  // The same threads as ours: they stop when a run ends rather than spin.
  o.AddConfigEntry("session.force_spinning_stop", "1");
  return o;
}

// The pipeline as the model's publishers describe it, with nothing of ours but the description.
class Reference {
 public:
  explicit Reference(const FaceModel& model)
      : model_(model),
        detector_(quillmere::runtimeEnvironment(), model.detector().file.c_str(), options()),
        embedder_(quillmere::runtimeEnvironment(), model.embedder().file.c_str(), options()) {}

  struct Face {
    Box box;
    std::vector<float> vector;
  };

  std::vector<Face> find(const Picture& picture) {
    std::vector<Box> all;
    const auto views = viewsOf(picture.width, picture.height);
    for (std::size_t v = 0; v < views.size(); ++v) {
      for (const Box& box : look(picture, views[v])) {
        if (v == 0 || !cut(box, views[v], picture)) all.push_back(box);
      }
    }
    std::vector<Box> boxes = merge(all);
    const double smallest = model_.detector().minFaceSide * std::max(picture.width, picture.height);
    std::erase_if(boxes, [&](const Box& b) { return b.right - b.left < smallest; });
    boxes.resize(std::min<std::size_t>(boxes.size(), model_.maxFaces()));
    std::vector<Face> faces;
    for (const Box& box : boxes) faces.push_back({box, embed(picture, box)});
    return faces;
  }

 private:
  using View = std::array<int, 4>;  // left, top, width, height

  std::vector<View> viewsOf(int width, int height) const {
    const int side = model_.detector().side;
    std::vector<View> views{{0, 0, width, height}};
    if (std::max(width, height) < 2 * side) return views;
    const int tile = std::min({model_.detector().tileSide, width, height}), overlap = tile / 4;
    const auto starts = [&](int length) {
      const int n = std::max(1, int(std::ceil(double(length - overlap) / (tile - overlap))));
      std::vector<int> s;
      for (int i = 0; i < n; ++i)
        s.push_back(n == 1 ? 0 : int(std::lround(double(length - tile) * i / (n - 1))));
      return s;
    };
    for (int top : starts(height))
      for (int left : starts(width)) views.push_back({left, top, tile, tile});
    return views;
  }

  static bool cut(const Box& b, const View& v, const Picture& p) {
    return (v[0] > 0 && b.left < v[0] + 2) || (v[1] > 0 && b.top < v[1] + 2) ||
           (v[0] + v[2] < p.width && b.right > v[0] + v[2] - 2) ||
           (v[1] + v[3] < p.height && b.bottom > v[1] + v[3] - 2);
  }

  std::vector<Box> look(const Picture& picture, const View& view) {
    const auto& d = model_.detector();
    const int side = d.side;
    const double scale = double(side) / std::max(view[2], view[3]);
    const int w = std::clamp(int(std::lround(view[2] * scale)), 1, side);
    const int h = std::clamp(int(std::lround(view[3] * scale)), 1, side);
    const double sx = double(w) / view[2], sy = double(h) / view[3];
    std::vector<float> input(std::size_t(side) * side * 3, d.range.low);
    const float k = (d.range.high - d.range.low) / 255;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c)
          input[(std::size_t(y) * side + x) * 3 + c] =
              sample(picture, view[0] + (x + 0.5) / sx - 0.5, view[1] + (y + 0.5) / sy - 0.5, c) *
                  k +
              d.range.low;
    const auto outputs = run(detector_, input, 1, side);
    const float* scores = nullptr;
    const float* raw = nullptr;
    for (const auto& out : outputs) {
      const auto shape = out.GetTensorTypeAndShapeInfo().GetShape();
      (shape.back() == 1 ? scores : raw) = out.GetTensorData<float>();
    }
    std::vector<Box> boxes;
    std::size_t anchor = 0;
    for (std::size_t g = 0; g < d.cells.size(); ++g) {
      const double cell = double(side) / d.cells[g];
      for (int y = 0; y < d.cells[g]; ++y)
        for (int x = 0; x < d.cells[g]; ++x)
          for (int a = 0; a < d.anchorsPerCell[g]; ++a, ++anchor) {
            const float score = 1 / (1 + std::exp(-std::clamp(scores[anchor], -100.0f, 100.0f)));
            if (score < d.scoreThreshold) continue;
            const float* r = raw + anchor * 16;
            const double cx = (x + 0.5) * cell + r[0], cy = (y + 0.5) * cell + r[1];
            Box b{view[0] + (cx - r[2] / 2) / sx,
                  view[1] + (cy - r[3] / 2) / sy,
                  view[0] + (cx + r[2] / 2) / sx,
                  view[1] + (cy + r[3] / 2) / sy,
                  {},
                  score};
            for (int p = 0; p < 6; ++p) {
              b.points[2 * p] = view[0] + ((x + 0.5) * cell + r[4 + 2 * p]) / sx;
              b.points[2 * p + 1] = view[1] + ((y + 0.5) * cell + r[5 + 2 * p]) / sy;
            }
            if (b.right > b.left && b.bottom > b.top) boxes.push_back(b);
          }
    }
    return boxes;
  }

  std::vector<Box> merge(std::vector<Box> boxes) const {
    std::sort(boxes.begin(), boxes.end(),
              [](const Box& a, const Box& b) { return a.score > b.score; });
    std::vector<Box> kept;
    while (!boxes.empty()) {
      const Box best = boxes.front();
      Box sum{};
      double weight = 0;
      std::vector<Box> rest;
      for (const Box& b : boxes) {
        if (&b != &boxes.front() && iou(best, b) <= model_.detector().iouThreshold) {
          rest.push_back(b);
          continue;
        }
        weight += b.score;
        sum.left += b.score * b.left, sum.top += b.score * b.top;
        sum.right += b.score * b.right, sum.bottom += b.score * b.bottom;
        for (int i = 0; i < 12; ++i) sum.points[i] += b.score * b.points[i];
      }
      sum.left /= weight, sum.top /= weight, sum.right /= weight, sum.bottom /= weight;
      for (double& p : sum.points) p /= weight;
      sum.score = best.score;
      kept.push_back(sum);
      boxes = std::move(rest);
    }
    return kept;
  }

  // Least-squares similarity from the four keypoints to the template, then each output pixel
  // sampled from the picture through its inverse.
  std::vector<float> embed(const Picture& picture, const Box& box) {
    const auto& e = model_.embedder();
    double mx = 0, my = 0, tx = 0, ty = 0;
    for (int i = 0; i < 4; ++i) {
      mx += box.points[2 * i] / 4, my += box.points[2 * i + 1] / 4;
      tx += e.alignment[i][0] / 4.0, ty += e.alignment[i][1] / 4.0;
    }
    double spread = 0, along = 0, across = 0;
    for (int i = 0; i < 4; ++i) {
      const double px = box.points[2 * i] - mx, py = box.points[2 * i + 1] - my;
      const double qx = e.alignment[i][0] - tx, qy = e.alignment[i][1] - ty;
      spread += px * px + py * py, along += px * qx + py * qy, across += px * qy - py * qx;
    }
    const double a = along / spread, b = across / spread, s2 = a * a + b * b;
    std::vector<float> input(std::size_t(e.side) * e.side * 3);
    const float k = (e.range.high - e.range.low) / 255;
    for (int y = 0; y < e.side; ++y)
      for (int x = 0; x < e.side; ++x) {
        const double u = x - tx, v = y - ty;
        const double sx = mx + (a * u + b * v) / s2, sy = my + (-b * u + a * v) / s2;
        for (int c = 0; c < 3; ++c)
          input[(std::size_t(y) * e.side + x) * 3 + c] =
              sample(picture, sx, sy, c) * k + e.range.low;
      }
    const auto outputs = run(embedder_, input, 1, e.side);
    const float* values = outputs.front().GetTensorData<float>();
    std::vector<float> vector(values, values + e.dimension);
    double norm = 0;
    for (float value : vector) norm += value * value;
    for (float& value : vector) value = static_cast<float>(value / std::sqrt(norm));
    return vector;
  }

  static std::vector<Ort::Value> run(Ort::Session& session, std::vector<float>& input,
                                     std::int64_t count, int side) {
    Ort::AllocatorWithDefaultOptions allocator;
    const std::array<std::int64_t, 4> shape{count, side, side, 3};
    auto memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
    Ort::Value tensor =
        Ort::Value::CreateTensor<float>(memory, input.data(), input.size(), shape.data(), 4);
    const std::string in = session.GetInputNameAllocated(0, allocator).get();
    std::vector<std::string> names;
    for (std::size_t i = 0; i < session.GetOutputCount(); ++i)
      names.push_back(session.GetOutputNameAllocated(i, allocator).get());
    std::vector<const char*> outs;
    for (const auto& n : names) outs.push_back(n.c_str());
    const char* ins[] = {in.c_str()};
    return session.Run(Ort::RunOptions{nullptr}, ins, &tensor, 1, outs.data(), outs.size());
  }

  const FaceModel& model_;
  Ort::Session detector_;
  Ort::Session embedder_;
};

Picture mirrored(const Picture& p) {
  Picture out = p;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      for (int c = 0; c < 3; ++c)
        out.rgb[(std::size_t(y) * p.width + x) * 3 + c] =
            p.rgb[(std::size_t(y) * p.width + p.width - 1 - x) * 3 + c];
  return out;
}

std::string processor() {
  std::ifstream in("/proc/cpuinfo");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown";
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  benchmark::Initialize(&argc, argv);
  quillmere::ThreadPriority::background();
  if (VIPS_INIT(argv[0]) != 0) return 1;
  const auto resources = quillmere::ResourceLocator::resourcesDirectory();
  const auto model = resources ? *resources / "FaceModel" : std::filesystem::path();
  const auto photos = std::filesystem::path(QUILLMERE_SOURCE_DIR) / "third_party/face-photos";
  if (!std::filesystem::exists(model / "face-model.json") ||
      !std::filesystem::exists(photos / "sample1.jpg")) {
    std::fprintf(stderr, "faces: no face model or photos (scripts/setup fetches them)\n");
    return 1;
  }
  std::vector<Picture> set;
  for (int i = 1; i <= 6; ++i) {
    auto picture =
        quillmere::ImageCodec::thumbnail(photos / ("sample" + std::to_string(i) + ".jpg"), 1280);
    if (!picture) return 1;
    set.push_back(mirrored(*picture));
    set.push_back(std::move(*picture));
  }
  quillmere::FaceFinder finder(model);
  const FaceModel description(model);
  Reference reference(description);

  std::vector<double> ratios;
  std::vector<quillmere::PictureFaces> ours(set.size());
  std::vector<std::vector<Reference::Face>> theirs(set.size());
  std::size_t faces = 0;
  for (int round = 0; round < kRounds; ++round) {
    const double oursMs = millisecondsOf([&] {
      for (std::size_t i = 0; i < set.size(); ++i) ours[i] = finder.find(set[i]);
    });
    const double referenceMs = millisecondsOf([&] {
      for (std::size_t i = 0; i < set.size(); ++i) theirs[i] = reference.find(set[i]);
    });
    faces = 0;
    for (const auto& found : ours) faces += found.faces.size();
    std::printf("round %d: ours %.1f faces/s, reference %.1f faces/s (%zu faces, %zu pictures)\n",
                round, faces * 1000 / oursMs, faces * 1000 / referenceMs, faces, set.size());
    ratios.push_back(referenceMs / oursMs);
  }

  // Each reference face against ours: the best overlapping box, and its vector.
  std::size_t matched = 0, total = 0;
  double worstIou = 1, worstCosine = 1;
  for (std::size_t i = 0; i < set.size(); ++i) {
    const Picture& p = set[i];
    for (const auto& face : theirs[i]) {
      ++total;
      double best = 0;
      const quillmere::FaceRecord* same = nullptr;
      for (const auto& record : ours[i].faces) {
        const Box box{record.box[0].x * p.width, record.box[0].y * p.height,
                      record.box[1].x * p.width, record.box[1].y * p.height};
        Box clamped = face.box;
        clamped.left = std::max(0.0, clamped.left), clamped.top = std::max(0.0, clamped.top);
        clamped.right = std::min<double>(p.width, clamped.right);
        clamped.bottom = std::min<double>(p.height, clamped.bottom);
        const double overlap = iou(box, clamped);
        if (overlap > best) best = overlap, same = &record;
      }
      worstIou = std::min(worstIou, best);
      if (best >= 0.9) ++matched;
      if (!same) continue;
      double cosine = 0;
      for (std::size_t k = 0; k < face.vector.size(); ++k)
        cosine += face.vector[k] * quillmere::floatFromHalf(same->vector[k]);
      worstCosine = std::min(worstCosine, cosine);
    }
  }
  std::printf(
      "faces: ours %zu, reference %zu; reference faces ours finds with IoU >= 0.9: %zu; "
      "smallest IoU %.3f, smallest cosine %.4f\n",
      faces, total, matched, worstIou, worstCosine);
  std::printf("processor: %s\n", processor().c_str());
  std::printf("ratio faces_per_second ours/reference %.3f target >= 1.0\n", median(ratios));
  std::printf("ratio same_boxes ours/reference %.3f target >= 1.0 (IoU >= 0.9)\n",
              total ? double(matched) / total : 1.0);
  std::printf("ratio smallest_cosine ours/reference %.4f target >= 0.999\n", worstCosine);
  return 0;
}
