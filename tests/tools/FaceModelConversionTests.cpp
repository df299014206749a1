// SPDX-License-Identifier: GPL-3.0-or-later
// The face graphs the build converted to ONNX give what TF.js gives running the published
// graphs, on real faces: crops of the group photos, through ONNX Runtime and @tensorflow/tfjs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>

#include "model/RuntimeEnvironment.h"
#include "platform/ImageCodec.h"
#include "support/TempDirectory.h"

namespace quillmere {
namespace {

namespace fs = std::filesystem;
const fs::path sourceDir = QUILLMERE_SOURCE_DIR;

struct Crop {
  const char* photo;
  double left, top, width, height;  // share of the photo
};

struct Graph {
  const char* onnx;
  const char* tfjs;
  int side;
  float low, high;  // the input range, from face-model.json
  std::vector<std::pair<std::string, std::string>> outputs;  // ONNX name, TF.js parts
  std::vector<Crop> crops;
  bool unfoldPrelu;      // as the build converts it
  bool faceApi = false;  // weights only: face-api's own network is the reference
};

fs::path tfjsCache() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  return (cache && *cache ? fs::path(cache) : fs::path(home ? home : "/") / ".cache") /
         "quillmere" / "tfjs";
}

// The crops as the graph's float input [N, side, side, 3].
std::vector<float> pixels(const Graph& graph) {
  std::vector<float> values;
  for (const Crop& crop : graph.crops) {
    auto photo = ImageCodec::thumbnail(sourceDir / "third_party/face-photos" / crop.photo, 4096);
    EXPECT_TRUE(photo) << crop.photo;
    if (!photo) continue;
    const ImageCodec::Rect rect{int(crop.left * photo->width), int(crop.top * photo->height),
                                int(crop.width * photo->width), int(crop.height * photo->height)};
    auto part = ImageCodec::region(*photo, rect, 4096);
    auto input = part ? ImageCodec::resize(*part, graph.side, graph.side) : std::nullopt;
    EXPECT_TRUE(input) << crop.photo;
    if (!input) continue;
    for (std::uint8_t p : input->rgb)
      values.push_back(graph.low + p / 255.0f * (graph.high - graph.low));
  }
  return values;
}

std::vector<float> readFloats(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> values(bytes.size() / sizeof(float));
  std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
  return values;
}

// What TF.js gives for each named output.
std::map<std::string, std::vector<float>> tfjsOutputs(const Graph& graph, const fs::path& input,
                                                      const fs::path& folder) {
  const std::string script = graph.faceApi ? "tools/faceapi_resnet.mjs" : "tools/tfjs_graph.mjs";
  std::string command = "node '" + (sourceDir / script).string() + "' '" + tfjsCache().string() +
                        "' '" + (sourceDir / "third_party/face-models" / graph.tfjs).string() +
                        "' '" + input.string() + "' ";
  if (graph.faceApi)
    command += "'" + (folder / (graph.outputs[0].first + ".f32")).string() + "'";
  else
    command += std::to_string(graph.side) + " '" + folder.string() + "'";
  if (graph.unfoldPrelu) command += " --unfold-prelu";
  for (const auto& [name, parts] : graph.outputs)
    if (!graph.faceApi) command += " --output " + name + "=" + parts;
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::map<std::string, std::vector<float>> outputs;
  for (const auto& [name, parts] : graph.outputs)
    outputs[name] = readFloats(folder / (name + ".f32"));
  return outputs;
}

class FaceModelConversion : public testing::TestWithParam<Graph> {};

TEST_P(FaceModelConversion, AgreesWithTfjsOnRealFaces) {
  const Graph& graph = GetParam();
  const fs::path onnx = fs::path(QUILLMERE_RESOURCES_DIR) / "FaceModel" / graph.onnx;
  const fs::path runtime =
      tfjsCache() / "node_modules" / (graph.faceApi ? "@vladmandic/face-api" : "@tensorflow/tfjs");
  if (!fs::exists(onnx) || !fs::exists(runtime))
    GTEST_SKIP() << "no converted face model at " << onnx << " or no " << runtime
                 << " (scripts/setup fetches both)";
  std::vector<float> input = pixels(graph);
  ASSERT_EQ(input.size(), graph.crops.size() * graph.side * graph.side * 3);
  test::TempDirectory folder;
  std::ofstream(folder / "input.f32", std::ios::binary)
      .write(reinterpret_cast<const char*>(input.data()), std::streamsize(input.size() * 4));
  auto expected = tfjsOutputs(graph, folder / "input.f32", folder.path());

  Ort::Session session(runtimeEnvironment(), onnx.c_str(), Ort::SessionOptions());
  const std::array<std::int64_t, 4> shape{std::int64_t(graph.crops.size()), graph.side, graph.side,
                                          3};
  auto memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  Ort::Value tensor =
      Ort::Value::CreateTensor<float>(memory, input.data(), input.size(), shape.data(), 4);
  std::vector<const char*> names;
  for (const auto& output : graph.outputs) names.push_back(output.first.c_str());
  const char* inputName = "image";
  auto results =
      session.Run(Ort::RunOptions{nullptr}, &inputName, &tensor, 1, names.data(), names.size());
  for (std::size_t k = 0; k < names.size(); ++k) {
    const std::vector<float>& want = expected[names[k]];
    const float* got = results[k].GetTensorData<float>();
    ASSERT_EQ(results[k].GetTensorTypeAndShapeInfo().GetElementCount(), want.size()) << names[k];
    // Relative to values above 1: the detector's logits and pixel offsets reach the hundreds.
    float worst = 0;
    for (std::size_t i = 0; i < want.size(); ++i)
      worst = std::max(worst, std::abs(got[i] - want[i]) / std::max(1.0f, std::abs(want[i])));
    EXPECT_LE(worst, 1e-4f) << graph.onnx << " " << names[k];
    std::cout << graph.onnx << " " << names[k] << ": within " << worst << " of TF.js\n";
  }
}

INSTANTIATE_TEST_SUITE_P(
    FaceGraphs, FaceModelConversion,
    testing::Values(Graph{"FaceDetector.onnx",
                          "blazeface-back.json",
                          256,
                          -1,
                          1,
                          {{"boxes", "Identity_2,Identity_3"}, {"scores", "Identity,Identity_1"}},
                          {{"sample1.jpg", 0, 0, 1, 1}, {"sample4.jpg", 0.1, 0.1, 0.8, 0.8}},
                          false},
                    Graph{"FaceEmbedder.onnx",
                          "mobilefacenet.json",
                          112,
                          0,
                          255,
                          {{"embedding", "embeddings"}},
                          {{"sample2.jpg", 0.44, 0.16, 0.15, 0.2},
                           {"sample5.jpg", 0.16, 0.63, 0.17, 0.22},
                           {"sample6.jpg", 0.58, 0.2, 0.16, 0.2}},
                          false},
                    Graph{"FaceRecognizer.onnx",
                          "face_recognition_model-weights_manifest.json",
                          150,
                          0,
                          255,
                          {{"embedding", ""}},
                          {{"sample2.jpg", 0.44, 0.16, 0.15, 0.2},
                           {"sample3.jpg", 0.3, 0.2, 0.2, 0.3},
                           {"sample6.jpg", 0.58, 0.2, 0.16, 0.2}},
                          false,
                          true}),
    [](const testing::TestParamInfo<Graph>& info) {
      const std::string file = info.param.onnx;
      return file.substr(0, file.find('.'));
    });

}  // namespace
}  // namespace quillmere
