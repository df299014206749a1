// SPDX-License-Identifier: GPL-3.0-or-later
// The provisioned ONNX Runtime loads a graph made by the model tooling and runs it.
#include <gtest/gtest.h>

#include <onnxruntime_cxx_api.h>

#include <cstdlib>
#include <fstream>

#include "model/RuntimeEnvironment.h"
#include "support/TempDirectory.h"

namespace quillmere {
namespace {

TEST(OnnxRuntime, RunsAOneNodeGraph) {
  test::TempDirectory dir;
  const auto script = dir / "square.py";
  const auto model = dir / "square.onnx";
  std::ofstream(script) << R"(import sys, onnx
from onnx import helper, TensorProto
x = helper.make_tensor_value_info("x", TensorProto.FLOAT, [3])
y = helper.make_tensor_value_info("y", TensorProto.FLOAT, [3])
graph = helper.make_graph([helper.make_node("Mul", ["x", "x"], ["y"])], "square", [x], [y])
model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 13)])
model.ir_version = 8
onnx.checker.check_model(model)
onnx.save(model, sys.argv[1])
)";
  const std::string command =
      std::string(QUILLMERE_PYTHON) + " " + script.string() + " " + model.string();
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  Ort::Env& env = runtimeEnvironment();
  Ort::SessionOptions options;
  options.SetIntraOpNumThreads(1);
  Ort::Session session(env, model.c_str(), options);

  std::vector<float> input{1.5f, -2.0f, 3.0f};
  const std::int64_t shape[] = {3};
  Ort::MemoryInfo memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  Ort::Value tensor = Ort::Value::CreateTensor<float>(memory, input.data(), input.size(), shape, 1);
  const char* inputs[] = {"x"};
  const char* outputs[] = {"y"};
  auto result = session.Run(Ort::RunOptions{nullptr}, inputs, &tensor, 1, outputs, 1);
  ASSERT_EQ(result.size(), 1u);
  const float* y = result[0].GetTensorData<float>();
  EXPECT_EQ(result[0].GetTensorTypeAndShapeInfo().GetElementCount(), 3u);
  EXPECT_FLOAT_EQ(y[0], 2.25f);
  EXPECT_FLOAT_EQ(y[1], 4.0f);
  EXPECT_FLOAT_EQ(y[2], 9.0f);
  EXPECT_FALSE(Ort::GetVersionString().empty());
}

}  // namespace
}  // namespace quillmere
