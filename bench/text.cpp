// SPDX-License-Identifier: GPL-3.0-or-later
// The reading pipeline against a plain reference, on Debian photos with words drawn on them by
// libvips' text rendering in DejaVu's three faces, 16 to 96 pixels, light and dark, level,
// turned and upside down:
//   - photos read per second by TextReader beside the published PP-OCR pre- and
//     post-processing written plainly here (bilinear resizes and crops by hand, the DB boxes,
//     Clipper's unclip, the 180° classifier and the recogniser in batches of six), with the same
//     ONNX models and session options on the same pictures; paired rounds, the median of the
//     pairs' ratios; and the share of the reference's lines that ours reads the same;
//   - the detector's side length at four values, every photo given the full pass: word recall
//     and milliseconds per photo;
//   - the first look's side, threshold and smallest region on a small grid (side 0: none):
//     word recall, and what a photo with no text costs against one run of a ViT-B/16-sized
//     image encoder, paired, median;
//   - the set, PDF pages and a slideshow video in a library: its words searched for (alone
//     with the argument "quality").
// Everything runs at background priority, where our sessions' workers run.
#include <benchmark/benchmark.h>
#include <onnxruntime_cxx_api.h>
#include <vips/vips.h>
#include <clipper.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "model/Embedder.h"
#include "model/RuntimeEnvironment.h"
#include "platform/ImageCodec.h"
#include "platform/ResourceLocator.h"
#include "platform/ThreadPriority.h"
#include "support/DrawnWords.h"
#include "support/Measure.h"
#include "support/ReadingQuality.h"
#include "text/TextModel.h"
#include "text/TextReader.h"

namespace {

using quillmere::ImageCodec;
using quillmere::Picture;
using quillmere::TextModel;
using quillmere::TextReader;
using quillmere::bench::median;
using quillmere::bench::millisecondsOf;

constexpr int kRounds = 3;

struct Words {
  std::string text;
  std::string font;
  int pixels = 32;
  double degrees = 0;
  bool dark = true;
};

struct Sample {
  Picture picture;
  std::vector<Words> words;
};

void draw(Picture& picture, const Words& words, int x, int y) {
  const std::uint8_t ink = words.dark ? 20 : 245;
  quillmere::draw(picture, {.text = words.text,
                            .font = words.font + " " + std::to_string(words.pixels),
                            .x = x,
                            .y = y,
                            .degrees = words.degrees,
                            .ink = {ink, ink, ink}});
}

std::vector<Sample> renderedSet() {
  const char* photos[] = {"nature/Aqua",        "nature/Blinds", "nature/Dune",
                          "nature/FreshFlower", "nature/Garden", "nature/GreenMeadow",
                          "nature/LadyBird",    "nature/Storm",  "nature/Wood",
                          "abstract/Elephants"};
  const char* fonts[] = {"DejaVu Sans Bold", "DejaVu Serif", "DejaVu Sans Mono Bold"};
  const char* lines[] = {"Hotel Receipt",   "Platform 7 Departures", "Exit 25",
                         "Budget Summary",  "Birthday Party",        "Brooklyn Bridge",
                         "Trailhead North", "Total 48.50",           "Garden Centre",
                         "Error Code 404",  "Station Road",          "Summer Sale"};
  const int sizes[] = {16, 20, 28, 40, 64, 96};
  const double angles[] = {0, 0, 8, -12, 0, 180};
  std::vector<Sample> set;
  int next = 0;
  for (const char* name : photos) {
    const auto path = std::string("/usr/share/backgrounds/mate/") + name + ".jpg";
    auto picture = ImageCodec::thumbnail(path, 1920);
    if (!picture) continue;
    Sample sample{*picture, {}};
    for (int i = 0; i < 3; ++i, ++next) {
      Words words{lines[next % 12], fonts[next % 3], sizes[next % 6], angles[(next / 2) % 6],
                  next % 2 == 0};
      draw(sample.picture, words, 120 + (next * 173) % 500, 100 + i * picture->height / 3);
      sample.words.push_back(words);
    }
    set.push_back(std::move(sample));
  }
  return set;
}

std::string folded(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c)) out += static_cast<char>(std::toupper(c));
  }
  return out;
}

// ---- The reference: the published pre- and post-processing, plainly. ----

Ort::SessionOptions sessionOptions() {
  Ort::SessionOptions options;
  options.SetIntraOpNumThreads(static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
  options.SetInterOpNumThreads(1);
  options.SetExecutionMode(ExecutionMode::ORT_SEQUENTIAL);
  options.SetGraphOptimizationLevel(GraphOptimizationLevel::ORT_ENABLE_ALL);
  options.AddConfigEntry("session.force_spinning_stop", "1");
  return options;
}

struct P {
  double x, y;
};

// cv2.resize's INTER_LINEAR: pixel centres at half pixels, edges repeated.
Picture bilinear(const Picture& in, int width, int height) {
  Picture out{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 3)};
  const double sx = double(in.width) / width, sy = double(in.height) / height;
  for (int y = 0; y < height; ++y) {
    const double fy = std::clamp((y + 0.5) * sy - 0.5, 0.0, in.height - 1.0);
    const int y0 = int(fy), y1 = std::min(y0 + 1, in.height - 1);
    const double wy = fy - y0;
    for (int x = 0; x < width; ++x) {
      const double fx = std::clamp((x + 0.5) * sx - 0.5, 0.0, in.width - 1.0);
      const int x0 = int(fx), x1 = std::min(x0 + 1, in.width - 1);
      const double wx = fx - x0;
      for (int c = 0; c < 3; ++c) {
        const auto at = [&](int xx, int yy) {
          return in.rgb[(std::size_t(yy) * in.width + xx) * 3 + c];
        };
        const double v = (at(x0, y0) * (1 - wx) + at(x1, y0) * wx) * (1 - wy) +
                         (at(x0, y1) * (1 - wx) + at(x1, y1) * wx) * wy;
        out.rgb[(std::size_t(y) * width + x) * 3 + c] = std::uint8_t(std::lround(v));
      }
    }
  }
  return out;
}

// BGR planes, (x / 255 - mean) / std, into item `item` of a [n, 3, h, w] tensor.
void planes(const Picture& p, const float* mean, const float* std, std::vector<float>& out,
            int item, int h, int w) {
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x)
        out[((std::size_t(item) * 3 + c) * h + y) * w + x] =
            (p.rgb[(std::size_t(y) * p.width + x) * 3 + 2 - c] / 255.0f - mean[c]) / std[c];
}

Ort::Value run(Ort::Session& session, std::vector<float>& input,
               std::array<std::int64_t, 4> shape) {
  Ort::AllocatorWithDefaultOptions allocator;
  const auto in = session.GetInputNameAllocated(0, allocator);
  const auto out = session.GetOutputNameAllocated(0, allocator);
  const char* inputs[] = {in.get()};
  const char* outputs[] = {out.get()};
  auto memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  Ort::Value tensor =
      Ort::Value::CreateTensor<float>(memory, input.data(), input.size(), shape.data(), 4);
  return std::move(session.Run(Ort::RunOptions{nullptr}, inputs, &tensor, 1, outputs, 1).front());
}

// cv2.minAreaRect followed by get_mini_boxes' corner order; returns the short side.
double miniBox(std::vector<P> pts, std::array<P, 4>& box) {
  std::sort(pts.begin(), pts.end(),
            [](P a, P b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
  std::vector<P> hull;
  const auto cross = [](P o, P a, P b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
  };
  for (int pass = 0; pass < 2; ++pass) {
    const std::size_t base = hull.size();
    for (std::size_t k = 0; k < pts.size(); ++k) {
      const P p = pass == 0 ? pts[k] : pts[pts.size() - 1 - k];
      while (hull.size() >= base + 2 && cross(hull[hull.size() - 2], hull.back(), p) <= 0)
        hull.pop_back();
      hull.push_back(p);
    }
    hull.pop_back();
  }
  if (hull.size() < 3) return 0;
  double best = INFINITY, shortSide = 0;
  for (std::size_t i = 0; i < hull.size(); ++i) {
    const P a = hull[i], b = hull[(i + 1) % hull.size()];
    const double len = std::hypot(b.x - a.x, b.y - a.y);
    if (len == 0) continue;
    const double ux = (b.x - a.x) / len, uy = (b.y - a.y) / len;
    double u0 = INFINITY, u1 = -INFINITY, v0 = INFINITY, v1 = -INFINITY;
    for (P p : hull) {
      const double u = p.x * ux + p.y * uy, v = -p.x * uy + p.y * ux;
      u0 = std::min(u0, u), u1 = std::max(u1, u), v0 = std::min(v0, v), v1 = std::max(v1, v);
    }
    if ((u1 - u0) * (v1 - v0) >= best) continue;
    best = (u1 - u0) * (v1 - v0);
    shortSide = std::min(u1 - u0, v1 - v0);
    const auto at = [&](double u, double v) { return P{u * ux - v * uy, u * uy + v * ux}; };
    box = {at(u0, v0), at(u1, v0), at(u1, v1), at(u0, v1)};
  }
  std::sort(box.begin(), box.end(), [](P a, P b) { return a.x < b.x; });
  if (box[1].y < box[0].y) std::swap(box[0], box[1]);
  if (box[3].y < box[2].y) std::swap(box[2], box[3]);
  box = {box[0], box[2], box[3], box[1]};
  return shortSide;
}

struct Reference {
  Ort::Session det, cls, rec;
  std::vector<std::string> chars;
  double side;  // det_limit_side_len, the same as ours

  explicit Reference(const TextModel& model)
      : det(quillmere::runtimeEnvironment(), model.detector().file.c_str(), sessionOptions()),
        cls(quillmere::runtimeEnvironment(), model.classifier().file.c_str(), sessionOptions()),
        rec(quillmere::runtimeEnvironment(), model.recognizer().file.c_str(), sessionOptions()),
        chars(model.characters()),
        side(model.detector().side) {}

  std::vector<std::array<P, 4>> detect(const Picture& img) {
    const float mean[] = {0.485f, 0.456f, 0.406f}, std[] = {0.229f, 0.224f, 0.225f};
    const double ratio =
        std::max(img.width, img.height) > side ? side / std::max(img.width, img.height) : 1;
    const int h = std::max(int(std::lround(img.height * ratio / 32)) * 32, 32);
    const int w = std::max(int(std::lround(img.width * ratio / 32)) * 32, 32);
    std::vector<float> input(3 * std::size_t(h) * w);
    planes(bilinear(img, w, h), mean, std, input, 0, h, w);
    Ort::Value out = run(det, input, {1, 3, h, w});
    const float* pred = out.GetTensorData<float>();
    std::vector<int> label(std::size_t(h) * w, 0);
    std::vector<std::array<P, 4>> boxes;
    for (int start = 0; start < h * w; ++start) {
      if (label[start] || pred[start] <= 0.3f) continue;
      std::vector<int> stack{start};
      std::vector<P> region;
      label[start] = 1;
      while (!stack.empty()) {
        const int at = stack.back();
        stack.pop_back();
        region.push_back({double(at % w), double(at / w)});
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const int x = at % w + dx, y = at / w + dy;
            if (x < 0 || y < 0 || x >= w || y >= h || label[y * w + x] || pred[y * w + x] <= 0.3f)
              continue;
            label[y * w + x] = 1;
            stack.push_back(y * w + x);
          }
      }
      std::array<P, 4> box;
      if (miniBox(region, box) < 3) continue;
      // box_score_fast: the mean inside the box over its bounding rectangle.
      double sum = 0;
      int count = 0;
      const auto inside = [&](P p) {
        int sign = 0;
        for (int i = 0; i < 4; ++i) {
          const P a = box[i], b = box[(i + 1) % 4];
          const double c = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
          if (c != 0 && sign != 0 && (c > 0) != (sign > 0)) return false;
          if (c != 0) sign = c > 0 ? 1 : -1;
        }
        return true;
      };
      double x0 = w, x1 = 0, y0 = h, y1 = 0;
      for (P p : box)
        x0 = std::min(x0, p.x), x1 = std::max(x1, p.x), y0 = std::min(y0, p.y),
        y1 = std::max(y1, p.y);
      for (int y = std::max(0, int(std::floor(y0))); y <= std::min(h - 1, int(std::ceil(y1))); ++y)
        for (int x = std::max(0, int(std::floor(x0))); x <= std::min(w - 1, int(std::ceil(x1)));
             ++x)
          if (inside({double(x), double(y)})) sum += pred[y * w + x], ++count;
      if (count == 0 || sum / count < 0.6) continue;
      // unclip: distance = area * 1.5 / perimeter, rounded joins.
      double area = 0, perimeter = 0;
      for (int i = 0; i < 4; ++i) {
        const P a = box[i], b = box[(i + 1) % 4];
        area += a.x * b.y - b.x * a.y;
        perimeter += std::hypot(b.x - a.x, b.y - a.y);
      }
      ClipperLib::Path path;
      for (P p : box) path.emplace_back(ClipperLib::cInt(p.x), ClipperLib::cInt(p.y));
      ClipperLib::ClipperOffset offset;
      offset.AddPath(path, ClipperLib::jtRound, ClipperLib::etClosedPolygon);
      ClipperLib::Paths grown;
      offset.Execute(grown, std::abs(area) / 2 * 1.5 / perimeter);
      std::vector<P> expanded;
      for (const auto& poly : grown)
        for (const auto& p : poly) expanded.push_back({double(p.X), double(p.Y)});
      if (miniBox(expanded, box) < 5) continue;
      for (P& p : box) {
        p.x = std::clamp(std::round(p.x / w * img.width), 0.0, double(img.width));
        p.y = std::clamp(std::round(p.y / h * img.height), 0.0, double(img.height));
      }
      if (int(std::hypot(box[1].x - box[0].x, box[1].y - box[0].y)) <= 3 ||
          int(std::hypot(box[3].x - box[0].x, box[3].y - box[0].y)) <= 3)
        continue;
      boxes.push_back(box);
    }
    std::sort(boxes.begin(), boxes.end(), [](const auto& a, const auto& b) {
      return a[0].y < b[0].y || (a[0].y == b[0].y && a[0].x < b[0].x);
    });
    for (std::size_t i = 0; i + 1 < boxes.size(); ++i)
      for (std::size_t j = i + 1; j-- > 0;) {
        if (std::abs(boxes[j + 1][0].y - boxes[j][0].y) < 10 && boxes[j + 1][0].x < boxes[j][0].x)
          std::swap(boxes[j], boxes[j + 1]);
        else
          break;
      }
    return boxes;
  }

  // get_rotate_crop_image: the box laid upright by bilinear sampling, edges repeated.
  static Picture crop(const Picture& img, const std::array<P, 4>& b) {
    const int w = int(std::max(std::hypot(b[1].x - b[0].x, b[1].y - b[0].y),
                               std::hypot(b[2].x - b[3].x, b[2].y - b[3].y)));
    const int h = int(std::max(std::hypot(b[3].x - b[0].x, b[3].y - b[0].y),
                               std::hypot(b[2].x - b[1].x, b[2].y - b[1].y)));
    Picture out{std::max(w, 1), std::max(h, 1), {}};
    out.rgb.resize(std::size_t(out.width) * out.height * 3);
    for (int v = 0; v < out.height; ++v)
      for (int u = 0; u < out.width; ++u) {
        const double fx = std::clamp(
            b[0].x + (b[1].x - b[0].x) * u / out.width + (b[3].x - b[0].x) * v / out.height, 0.0,
            img.width - 1.0);
        const double fy = std::clamp(
            b[0].y + (b[1].y - b[0].y) * u / out.width + (b[3].y - b[0].y) * v / out.height, 0.0,
            img.height - 1.0);
        const int x0 = int(fx), y0 = int(fy), x1 = std::min(x0 + 1, img.width - 1),
                  y1 = std::min(y0 + 1, img.height - 1);
        for (int c = 0; c < 3; ++c) {
          const auto at = [&](int x, int y) {
            return img.rgb[(std::size_t(y) * img.width + x) * 3 + c];
          };
          const double wx = fx - x0, wy = fy - y0;
          const double value = (at(x0, y0) * (1 - wx) + at(x1, y0) * wx) * (1 - wy) +
                               (at(x0, y1) * (1 - wx) + at(x1, y1) * wx) * wy;
          out.rgb[(std::size_t(v) * out.width + u) * 3 + c] =
              std::uint8_t(std::clamp(std::lround(value), 0l, 255l));
        }
      }
    return out;
  }

  // A quarter turn counter-clockwise (np.rot90), or half a turn.
  static Picture turn(const Picture& in, bool half) {
    Picture out{half ? in.width : in.height, half ? in.height : in.width,
                std::vector<std::uint8_t>(in.rgb.size())};
    for (int y = 0; y < in.height; ++y)
      for (int x = 0; x < in.width; ++x) {
        const int ox = half ? in.width - 1 - x : y,
                  oy = half ? in.height - 1 - y : in.width - 1 - x;
        std::copy_n(&in.rgb[(std::size_t(y) * in.width + x) * 3], 3,
                    &out.rgb[(std::size_t(oy) * out.width + ox) * 3]);
      }
    return out;
  }

  std::vector<std::string> read(const Picture& img) {
    const float half[] = {0.5f, 0.5f, 0.5f};
    std::vector<Picture> crops;
    for (const auto& box : detect(img)) {
      Picture c = crop(img, box);
      if (double(c.height) / c.width >= 1.5) c = turn(c, false);
      crops.push_back(std::move(c));
    }
    for (std::size_t s = 0; s < crops.size(); s += 6) {
      const int n = int(std::min<std::size_t>(6, crops.size() - s));
      std::vector<float> input(std::size_t(n) * 3 * 48 * 192, 0.0f);
      for (int i = 0; i < n; ++i) {
        const Picture& c = crops[s + i];
        const int rw = std::min(192, int(std::ceil(48.0 * c.width / c.height)));
        planes(bilinear(c, rw, 48), half, half, input, i, 48, 192);
      }
      Ort::Value out = run(cls, input, {n, 3, 48, 192});
      const float* p = out.GetTensorData<float>();
      for (int i = 0; i < n; ++i)
        if (p[2 * i + 1] > p[2 * i] && p[2 * i + 1] > 0.9f) crops[s + i] = turn(crops[s + i], true);
    }
    std::vector<std::size_t> order(crops.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return double(crops[a].width) / crops[a].height < double(crops[b].width) / crops[b].height;
    });
    std::vector<std::string> texts(crops.size());
    std::vector<float> scores(crops.size(), 0);
    for (std::size_t s = 0; s < order.size(); s += 6) {
      const int n = int(std::min<std::size_t>(6, order.size() - s));
      double widest = 320.0 / 48;
      for (int i = 0; i < n; ++i)
        widest = std::max(widest, double(crops[order[s + i]].width) / crops[order[s + i]].height);
      const int W = int(48 * widest);
      std::vector<float> input(std::size_t(n) * 3 * 48 * W, 0.0f);
      for (int i = 0; i < n; ++i) {
        const Picture& c = crops[order[s + i]];
        planes(bilinear(c, std::min(W, int(std::ceil(48.0 * c.width / c.height))), 48), half, half,
               input, i, 48, W);
      }
      Ort::Value out = run(rec, input, {n, 3, 48, W});
      const auto shape = out.GetTensorTypeAndShapeInfo().GetShape();
      const float* p = out.GetTensorData<float>();
      for (int i = 0; i < n; ++i) {
        std::string text;
        double sum = 0;
        int kept = 0;
        std::int64_t last = -1;
        for (std::int64_t t = 0; t < shape[1]; ++t) {
          const float* row = p + (i * shape[1] + t) * shape[2];
          const std::int64_t best = std::max_element(row, row + shape[2]) - row;
          if (best != 0 && best != last) text += chars[best], sum += row[best], ++kept;
          last = best;
        }
        texts[order[s + i]] = text;
        scores[order[s + i]] = kept ? float(sum / kept) : 0.0f;
      }
    }
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < texts.size(); ++i)
      if (scores[i] >= 0.5f && !texts[i].empty()) kept.push_back(texts[i]);
    return kept;
  }
};

// ---- Measuring ----

std::vector<std::string> ours(TextReader& reader, const Picture& picture) {
  std::vector<std::string> lines;
  for (const auto& line : reader.read(picture).lines) lines.push_back(line.text);
  return lines;
}

struct Recall {
  int found = 0, total = 0, levelFound = 0, levelTotal = 0;
};

Recall recall(const std::vector<Sample>& set, const std::vector<std::vector<std::string>>& read) {
  Recall r;
  for (std::size_t i = 0; i < set.size(); ++i) {
    std::string all;
    for (const auto& line : read[i]) all += folded(line);
    for (const auto& words : set[i].words) {
      std::string word;
      for (std::size_t at = 0; at <= words.text.size(); ++at) {
        if (at < words.text.size() && words.text[at] != ' ') {
          word += words.text[at];
          continue;
        }
        const bool hit = !word.empty() && all.find(folded(word)) != std::string::npos;
        if (!word.empty()) {
          r.total++, r.found += hit;
          if (words.degrees == 0 && words.pixels >= 16) r.levelTotal++, r.levelFound += hit;
        }
        word.clear();
      }
    }
  }
  return r;
}

// A copy of the model directory with numbers of its description changed.
std::filesystem::path variant(const std::filesystem::path& model,
                              const std::vector<std::pair<std::string, double>>& changes) {
  const auto number = [](double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return std::string(text);
  };
  std::string name = "quillmere-bench-text";
  for (const auto& [key, value] : changes) name += "-" + key + number(value);
  const auto dir = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  for (const auto& entry : std::filesystem::directory_iterator(model))
    if (entry.path().filename() != "text-model.json")
      std::filesystem::create_symlink(entry.path(), dir / entry.path().filename());
  std::ifstream in(model / "text-model.json");
  std::string json((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const auto& [key, value] : changes) {
    const auto at = json.find("\"" + key + "\": ");
    const auto end = json.find_first_of(",\n", at);
    json.replace(at, end - at, "\"" + key + "\": " + number(value));
  }
  std::ofstream(dir / "text-model.json") << json;
  return dir;
}

std::vector<quillmere::bench::WordedPicture> worded(const std::vector<Sample>& set) {
  std::vector<quillmere::bench::WordedPicture> pictures;
  for (const Sample& sample : set) {
    quillmere::bench::WordedPicture picture{sample.picture, {}};
    for (const Words& words : sample.words) picture.lines.push_back(words.text);
    pictures.push_back(std::move(picture));
  }
  return pictures;
}

// The processor's name, for reading the figures beside others.
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
  // Ours runs its sessions' workers at background priority: the reference's inherit it here.
  quillmere::ThreadPriority::background();
  if (VIPS_INIT(argv[0]) != 0) return 1;
  const auto resources = quillmere::ResourceLocator::resourcesDirectory();
  const auto model = resources ? *resources / "TextModel" : std::filesystem::path();
  if (!std::filesystem::exists(model / "text-model.json")) {
    std::fprintf(stderr, "text: no text model in %s (scripts/setup fetches it)\n", model.c_str());
    return 1;
  }
  const std::vector<Sample> set = renderedSet();
  std::printf("rendered set: %zu photos, %zu lines\n", set.size(), set.size() * 3);
  if (argc > 1 && std::string(argv[1]) == "quality") {
    quillmere::bench::printReadingQuality(worded(set), model);
    return 0;
  }

  // 1. Ours against the reference, paired rounds.
  // Every photo of the set holds text: with the first look ours pays for it on each.
  TextReader reader(model), fullPass(variant(model, {{"firstLookSide", 0}}));
  Reference reference{TextModel(model)};
  std::vector<double> ratios, fullPassRatios;
  std::vector<std::vector<std::string>> ourLines(set.size()), referenceLines(set.size()),
      fullPassLines(set.size());
  for (int round = 0; round < kRounds; ++round) {
    const double oursMs = millisecondsOf([&] {
      for (std::size_t i = 0; i < set.size(); ++i) ourLines[i] = ours(reader, set[i].picture);
    });
    const double fullPassMs = millisecondsOf([&] {
      for (std::size_t i = 0; i < set.size(); ++i)
        fullPassLines[i] = ours(fullPass, set[i].picture);
    });
    const double referenceMs = millisecondsOf([&] {
      for (std::size_t i = 0; i < set.size(); ++i)
        referenceLines[i] = reference.read(set[i].picture);
    });
    std::printf("round %d: ours %.0f ms, ours without the first look %.0f ms, reference %.0f ms\n",
                round, oursMs / set.size(), fullPassMs / set.size(), referenceMs / set.size());
    ratios.push_back(referenceMs / oursMs);
    fullPassRatios.push_back(referenceMs / fullPassMs);
  }
  // The share of the reference's lines that `lines` holds as well (letters and digits).
  const auto sameLines = [&](const std::vector<std::vector<std::string>>& lines) {
    int same = 0, total = 0;
    for (std::size_t i = 0; i < set.size(); ++i) {
      for (const auto& line : referenceLines[i]) {
        ++total;
        same += std::any_of(lines[i].begin(), lines[i].end(),
                            [&](const auto& o) { return folded(o) == folded(line); });
      }
    }
    return total ? double(same) / total : 1.0;
  };
  const Recall ourRecall = recall(set, ourLines), referenceRecall = recall(set, referenceLines);
  std::printf("word recall: ours %d/%d (level >= 16 px: %d/%d), reference %d/%d (level: %d/%d)\n",
              ourRecall.found, ourRecall.total, ourRecall.levelFound, ourRecall.levelTotal,
              referenceRecall.found, referenceRecall.total, referenceRecall.levelFound,
              referenceRecall.levelTotal);

  // 2. The detector's side length, every photo given the full pass.
  for (int side : {640, 800, 960, 1280}) {
    TextReader sized(variant(model, {{"side", side}, {"firstLookSide", 0}}));
    std::vector<std::vector<std::string>> lines(set.size());
    std::vector<double> times;
    for (std::size_t i = 0; i < set.size(); ++i)
      times.push_back(millisecondsOf([&] { lines[i] = ours(sized, set[i].picture); }));
    const Recall r = recall(set, lines);
    std::printf(
        "detector side %d, no first look: word recall %.1f %% (level >= 16 px: %.1f %%), %.0f ms "
        "per photo (median)\n",
        side, 100.0 * r.found / r.total, 100.0 * r.levelFound / r.levelTotal, median(times));
  }

  // 3. The first look's side: what it costs a photo with no text, against one run of the
  // image encoder, and what it loses of the words.
  quillmere::Embedder vit(EMBEDDER_VIT_DIR);
  std::vector<Picture> blanks;
  for (const char* name :
       {"nature/Aqua", "nature/Dune", "nature/Garden", "nature/Storm", "abstract/Elephants"}) {
    blanks.push_back(
        *ImageCodec::thumbnail(std::string("/usr/share/backgrounds/mate/") + name + ".jpg", 1920));
  }
  double defaultRatio = 0;
  const TextModel::Detector chosen = TextModel(model).detector();
  struct Look {
    int side;
    float threshold;
    int pixels;
  };
  const Look grid[] = {{0, 0, 1},       {480, 0.3f, 4},  {480, 0.3f, 32},
                       {640, 0.3f, 32}, {640, 0.3f, 96}, {640, 0.2f, 96}};
  for (const auto& [look, threshold, pixels] : grid) {
    TextReader looking(variant(
        model,
        {{"firstLookSide", look}, {"firstLookThreshold", threshold}, {"firstLookPixels", pixels}}));
    std::vector<std::vector<std::string>> lines(set.size());
    for (std::size_t i = 0; i < set.size(); ++i) lines[i] = ours(looking, set[i].picture);
    const Recall r = recall(set, lines);
    std::vector<double> ratiosToEncoder;
    for (const Picture& photo : blanks) {
      looking.read(photo);
      vit.embed(std::span(&photo, 1));
      for (int round = 0; round < 3; ++round) {
        const double blank = millisecondsOf([&] { looking.read(photo); });
        const double encoder = millisecondsOf([&] { vit.embed(std::span(&photo, 1)); });
        ratiosToEncoder.push_back(blank / encoder);
      }
    }
    const bool isDefault = look == chosen.firstLookSide && threshold == chosen.firstLookThreshold &&
                           pixels == chosen.firstLookPixels;
    std::printf(
        "first look %d, threshold %.1f, %d pixels%s: word recall %.1f %% (level >= 16 px: "
        "%.1f %%), a photo with no text costs %.3f of one ViT-B/16 image-encoder run (median)\n",
        look, threshold, pixels, isDefault ? " (the default)" : "", 100.0 * r.found / r.total,
        100.0 * r.levelFound / r.levelTotal, median(ratiosToEncoder));
    if (isDefault) defaultRatio = median(ratiosToEncoder);
  }

  // 4. Reading as a user meets it, in a library.
  quillmere::bench::printReadingQuality(worded(set), model);

  std::printf("processor: %s\n", processor().c_str());
  std::printf("ratio photos_per_second ours/reference %.3f target >= 1.0 (with the first look)\n",
              median(ratios));
  std::printf("ratio photos_per_second_full_pass ours/reference %.3f target >= 1.0\n",
              median(fullPassRatios));
  std::printf("ratio same_lines ours/reference %.3f target >= 0.99 (with the first look)\n",
              sameLines(ourLines));
  std::printf("ratio same_lines_full_pass ours/reference %.3f target >= 0.99\n",
              sameLines(fullPassLines));
  std::printf("ratio no_text_photo/image_encoder_run %.3f target <= 0.25\n", defaultRatio);
  return 0;
}
