// SPDX-License-Identifier: GPL-3.0-or-later
// The search model's two encoders on ONNX Runtime, loaded lazily, and their input and output.
#include "model/Embedder.h"

#include <onnxruntime_cxx_api.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "model/BPETokenizer.h"
#include "model/BackgroundThreads.h"
#include "model/ImagePreprocess.h"
#include "model/ModelChoice.h"
#include "model/PictureFitter.h"
#include "model/PixelBufferPool.h"
#include "model/RuntimeEnvironment.h"
#include "platform/FreedMemory.h"
#include "platform/MappedFile.h"
#include "platform/ResourceLocator.h"

namespace quillmere {
namespace {

bool isFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

std::string readModelJSON(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    throw Embedder::Failure::missing("model.json");
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) throw Embedder::Failure::missing("model.json");
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) throw Embedder::Failure::missing("model.json");
  return bytes;
}

float elementAsFloat(const Ort::Value& value, ONNXTensorElementDataType type, std::size_t i) {
  switch (type) {
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_DOUBLE:
      return static_cast<float>(value.GetTensorData<double>()[i]);
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_BFLOAT16: {
      std::uint32_t bits = static_cast<std::uint32_t>(value.GetTensorData<std::uint16_t>()[i])
                           << 16;
      float result;
      std::memcpy(&result, &bits, sizeof result);
      return result;
    }
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT8:
      return value.GetTensorData<std::int8_t>()[i];
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT8:
      return value.GetTensorData<std::uint8_t>()[i];
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_BOOL:
      return value.GetTensorData<bool>()[i] ? 1.0f : 0.0f;
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT16:
      return value.GetTensorData<std::int16_t>()[i];
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT16:
      return value.GetTensorData<std::uint16_t>()[i];
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT32:
      return static_cast<float>(value.GetTensorData<std::int32_t>()[i]);
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT32:
      return static_cast<float>(value.GetTensorData<std::uint32_t>()[i]);
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT64:
      return static_cast<float>(value.GetTensorData<std::int64_t>()[i]);
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT64:
      return static_cast<float>(value.GetTensorData<std::uint64_t>()[i]);
    default:
      throw Embedder::Failure::output();
  }
}

// Item `row` of a batch of `items`: the first `dim` values of that item, unit length (a
// zero vector stays zero). An output too short for that, of no numeric type, or with
// non-finite values is no usable result.
std::vector<float> readVector(const Ort::Value& value, std::size_t row, std::size_t items,
                              std::size_t dim) {
  if (!value.IsTensor()) throw Embedder::Failure::output();
  Ort::TensorTypeAndShapeInfo shape = value.GetTensorTypeAndShapeInfo();
  const std::size_t total = shape.GetElementCount();
  if (items == 0 || total % items != 0 || total / items < dim) throw Embedder::Failure::output();
  const std::size_t base = row * (total / items);
  const ONNXTensorElementDataType type = shape.GetElementType();

  std::vector<float> vector(dim, 0.0f);
  if (type == ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT) {
    const float* data = value.GetTensorData<float>() + base;
    std::copy(data, data + dim, vector.begin());
  } else if (type == ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16) {
    floatsFromHalves(std::span(value.GetTensorData<Half>() + base, dim), vector);
  } else {
    for (std::size_t i = 0; i < dim; ++i) vector[i] = elementAsFloat(value, type, base + i);
  }

  double sum = 0;
  for (float x : vector) {
    if (!std::isfinite(x)) throw Embedder::Failure::output();
    sum += static_cast<double>(x) * x;
  }
  if (sum > 0) {
    const auto norm = static_cast<float>(std::sqrt(sum));
    for (float& x : vector) x /= norm;
  }
  return vector;
}

// Frees what a release took out of the embedder, outside its lock (a run under way keeps its
// own references), and gives the memory back to the system rather than to the allocator.
template <typename... Held>
void freeReleased(Held&... held) {
  const bool any = (static_cast<bool>(held) || ...);
  (held.reset(), ...);
  if (any) FreedMemory::giveBack();
}

}  // namespace

struct Embedder::Encoder {
  // The compiled form's bytes, which the session's weights point into; made before the
  // session and gone after it.
  std::unique_ptr<MappedFile> mapped;
  Ort::Session session;
  std::string inputName;
  std::string outputName;
  ONNXTensorElementDataType inputType = ONNX_TENSOR_ELEMENT_DATA_TYPE_UNDEFINED;
  std::int64_t fixedBatch = 0;  // the input's first dimension when the graph fixes it
  bool hasOutput = false;
  Shapes shapes;

  Encoder(const std::filesystem::path& path, const Ort::SessionOptions& options, std::string input,
          std::string output)
      : session(runtimeEnvironment(), path.c_str(), options),
        inputName(std::move(input)),
        outputName(std::move(output)) {
    readShapes();
  }

  Encoder(std::unique_ptr<MappedFile> bytes, const Ort::SessionOptions& options, std::string input,
          std::string output)
      : mapped(std::move(bytes)),
        session(runtimeEnvironment(), mapped->data(), mapped->size(), options),
        inputName(std::move(input)),
        outputName(std::move(output)) {
    readShapes();
  }

  void readShapes() {
    Ort::AllocatorWithDefaultOptions allocator;
    for (std::size_t i = 0; i < session.GetInputCount(); ++i) {
      if (session.GetInputNameAllocated(i, allocator).get() != inputName) continue;
      // The shape view lives as long as its type info.
      Ort::TypeInfo type = session.GetInputTypeInfo(i);
      auto shape = type.GetTensorTypeAndShapeInfo();
      inputType = shape.GetElementType();
      shapes.input = shape.GetShape();
      if (!shapes.input.empty() && shapes.input.front() > 0) fixedBatch = shapes.input.front();
    }
    for (std::size_t i = 0; i < session.GetOutputCount(); ++i) {
      if (session.GetOutputNameAllocated(i, allocator).get() != outputName) continue;
      hasOutput = true;
      Ort::TypeInfo type = session.GetOutputTypeInfo(i);
      shapes.output = type.GetTensorTypeAndShapeInfo().GetShape();
    }
  }

  Ort::Value run(Ort::Value input) {
    if (!hasOutput) throw Failure::output();
    const char* inputs[] = {inputName.c_str()};
    const char* outputs[] = {outputName.c_str()};
    std::vector<Ort::Value> results =
        session.Run(Ort::RunOptions{nullptr}, inputs, &input, 1, outputs, 1);
    if (results.size() != 1) throw Failure::output();
    return std::move(results.front());
  }
};

Embedder::Failure::Failure(Kind kind, std::string name, const std::string& text)
    : std::runtime_error(text), kind_(kind), name_(std::move(name)) {}

Embedder::Failure Embedder::Failure::missing(const std::string& name) {
  return Failure(Kind::missing, name,
                 "The search model is incomplete (" + name + " is missing). Reinstall Quillmere.");
}

Embedder::Failure Embedder::Failure::output() {
  return Failure(Kind::output, "", "The search model returned no result.");
}

Embedder::Embedder(std::filesystem::path directory, ComputeUnits computeUnits,
                   ComputeUnits textComputeUnits)
    : directory_(std::move(directory)),
      computeUnits_(computeUnits),
      textComputeUnits_(textComputeUnits) {
  info_ = ModelInfo::decode(readModelJSON(directory_ / "model.json"));
}

Embedder::~Embedder() = default;

std::optional<std::filesystem::path> Embedder::defaultDirectory() {
  if (const char* override = std::getenv("QUILLMERE_MODEL_DIR")) {
    return std::filesystem::path(override);
  }
  return defaultDirectory(ResourceLocator::resourcesDirectory());
}

std::optional<std::filesystem::path> Embedder::defaultDirectory(
    const std::optional<std::filesystem::path>& resourcesDirectory) {
  if (const char* override = std::getenv("QUILLMERE_MODEL_DIR")) {
    return std::filesystem::path(override);
  }
  if (auto chosen = ModelChoice::chosen()) return chosen;
  if (!resourcesDirectory) return std::nullopt;
  return *resourcesDirectory / "Model";
}

Embedder::TextSide Embedder::loadText() {
  MutexLock guard(lock_);
  if (!tokenizer_) {
    tokenizer_ =
        std::make_shared<const BPETokenizer>(directory_ / "tokenizer.bin", info_.contextLength,
                                             info_.padId, info_.eosId, info_.lowercase);
  }
  if (!textModel_) {
    textModel_ = openEncoder("TextEncoder", textComputeUnits_, info_.textInput, info_.textOutput,
                             Priority::normal);
  }
  textUsed_ = std::chrono::steady_clock::now();
  return TextSide{tokenizer_, textModel_};
}

std::shared_ptr<Embedder::Encoder> Embedder::loadImages() {
  MutexLock guard(lock_);
  if (!imageModel_) {
    imageModel_ = openEncoder("ImageEncoder", computeUnits_, info_.imageInput, info_.imageOutput,
                              Priority::background);
  }
  imagesUsed_ = std::chrono::steady_clock::now();
  return imageModel_;
}

std::shared_ptr<PixelBufferPool> Embedder::pixelPool() {
  MutexLock guard(lock_);
  if (!pixelPool_) {
    try {
      pixelPool_ = PixelBufferPool::create(info_.imageSize);
    } catch (const std::invalid_argument&) {
      throw Failure::output();
    }
  }
  return pixelPool_;
}

Embedder::Shapes Embedder::imageShapes() {
  return loadImages()->shapes;
}

Embedder::Shapes Embedder::textShapes() {
  return loadText().model->shapes;
}

void Embedder::prepareText() {
  loadText();
}

std::vector<std::vector<Half>> Embedder::embed(std::span<const Picture> images) {
  std::shared_ptr<Encoder> model = loadImages();
  if (images.empty()) return {};
  if (info_.dim < 1) throw Failure::output();
  std::shared_ptr<PixelBufferPool> pool = pixelPool();
  PixelBufferPool::Lease lease = pool->acquire(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    if (!PictureFitter::draw(images[i], info_.imageSize, info_.resize, lease.frame(i),
                             info_.interpolation)) {
      throw Failure::output();
    }
  }
  // A graph with a fixed batch runs in runs of that size, the last one filled up.
  const auto step =
      model->fixedBatch > 0 ? static_cast<std::size_t>(model->fixedBatch) : images.size();
  std::vector<std::vector<Half>> vectors;
  vectors.reserve(images.size());
  for (std::size_t start = 0; start < images.size(); start += step) {
    const std::size_t count = std::min(step, images.size() - start);
    Ort::Value output = model->run(imageTensor(lease, start, count, step));
    for (std::size_t r = 0; r < count; ++r) {
      vectors.push_back(
          halvesFromFloats(readVector(output, r, step, static_cast<std::size_t>(info_.dim))));
    }
  }
  return vectors;
}

Ort::Value Embedder::imageTensor(PixelBufferPool::Lease& lease, std::size_t start,
                                 std::size_t count, std::size_t items) const {
  const std::int64_t side = info_.imageSize;
  const auto n = static_cast<std::int64_t>(items);
  const std::size_t bytes = ImagePreprocess::floatsPerImage(info_);
  Ort::AllocatorWithDefaultOptions allocator;
  if (!info_.floatPixels()) {
    const std::int64_t shape[] = {n, side, side, 3};
    if (count == items) {
      Ort::MemoryInfo memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
      return Ort::Value::CreateTensor<std::uint8_t>(memory, lease.frame(start), count * bytes,
                                                    shape, 4);
    }
    Ort::Value input = Ort::Value::CreateTensor<std::uint8_t>(allocator, shape, 4);
    auto* data = input.GetTensorMutableData<std::uint8_t>();
    for (std::size_t i = 0; i < items; ++i) {
      const std::uint8_t* frame = lease.frame(start + std::min(i, count - 1));
      std::copy(frame, frame + bytes, data + i * bytes);
    }
    return input;
  }
  std::vector<std::int64_t> shape{n, 3, side, side};
  if (info_.pixels == "nhwc") shape = {n, side, side, 3};
  Ort::Value input = Ort::Value::CreateTensor<float>(allocator, shape.data(), shape.size());
  auto* data = input.GetTensorMutableData<float>();
  for (std::size_t i = 0; i < items; ++i) {
    ImagePreprocess::normalise(info_, lease.frame(start + std::min(i, count - 1)),
                               data + i * bytes);
  }
  return input;
}

std::vector<float> Embedder::embed(std::string_view text) {
  TextSide side = loadText();
  if (info_.dim < 1) throw Failure::output();
  std::vector<std::int32_t> ids = side.tokenizer->encode(text);

  const std::int64_t shape[] = {1, static_cast<std::int64_t>(ids.size())};
  Ort::AllocatorWithDefaultOptions allocator;
  Ort::Value input{nullptr};
  if (side.model->inputType == ONNX_TENSOR_ELEMENT_DATA_TYPE_INT64) {
    input = Ort::Value::CreateTensor<std::int64_t>(allocator, shape, 2);
    std::copy(ids.begin(), ids.end(), input.GetTensorMutableData<std::int64_t>());
  } else {
    input = Ort::Value::CreateTensor<std::int32_t>(allocator, shape, 2);
    std::copy(ids.begin(), ids.end(), input.GetTensorMutableData<std::int32_t>());
  }
  Ort::Value output = side.model->run(std::move(input));
  return readVector(output, 0, 1, static_cast<std::size_t>(info_.dim));
}

std::vector<std::int32_t> Embedder::tokenize(std::string_view text) {
  return loadText().tokenizer->encode(text);
}

float Embedder::probability(float score) const {
  return 1.0f / (1.0f + std::exp(-(score * info_.logitScale + info_.logitBias)));
}

void Embedder::releaseImages() {
  std::shared_ptr<Encoder> model;
  std::shared_ptr<PixelBufferPool> pool;
  {
    MutexLock guard(lock_);
    model = std::move(imageModel_);
    pool = std::move(pixelPool_);
  }
  freeReleased(model, pool);
}

void Embedder::releaseIdle(std::chrono::steady_clock::duration idle) {
  std::shared_ptr<Encoder> images;
  std::shared_ptr<PixelBufferPool> pool;
  std::shared_ptr<Encoder> text;
  std::shared_ptr<const BPETokenizer> tokenizer;
  {
    MutexLock guard(lock_);
    const auto now = std::chrono::steady_clock::now();
    if (now - imagesUsed_ >= idle) {
      images = std::move(imageModel_);
      pool = std::move(pixelPool_);
    }
    if (now - textUsed_ >= idle) {
      text = std::move(textModel_);
      tokenizer = std::move(tokenizer_);
    }
  }
  freeReleased(images, pool, text, tokenizer);
}

void Embedder::compile(const std::filesystem::path& source, const std::filesystem::path& target) {
  Ort::SessionOptions options;
  options.SetIntraOpNumThreads(1);
  // Beyond the extended level the optimisations fit this machine's processor only.
  options.SetGraphOptimizationLevel(GraphOptimizationLevel::ORT_ENABLE_EXTENDED);
  options.SetOptimizedModelFilePath(target.c_str());
  options.AddConfigEntry("session.save_model_format", "ORT");
  try {
    Ort::Session session(runtimeEnvironment(), source.c_str(), options);
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove(target, ignored);
    throw;
  }
}

std::shared_ptr<Embedder::Encoder> Embedder::openEncoder(const std::string& name,
                                                         ComputeUnits units,
                                                         const std::string& input,
                                                         const std::string& output,
                                                         Priority priority) const {
  const std::filesystem::path compiled = directory_ / (name + ".ort");
  const std::filesystem::path source = directory_ / (name + ".onnx");
  const auto options = [&] {
    Ort::SessionOptions made;
    int threads = units.intraOpThreads;
    if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    made.SetIntraOpNumThreads(threads);
    made.SetInterOpNumThreads(1);
    if (priority == Priority::background) useBackgroundThreads(made);
    made.SetExecutionMode(ExecutionMode::ORT_SEQUENTIAL);
    made.SetGraphOptimizationLevel(GraphOptimizationLevel::ORT_ENABLE_ALL);
    return made;
  };
  if (isFile(compiled)) {
    Ort::SessionOptions mapped = options();
    mapped.AddConfigEntry("session.load_model_format", "ORT");
    // The weights stay in the mapped file: no copy of a gigabyte-sized table.
    mapped.AddConfigEntry("session.use_ort_model_bytes_directly", "1");
    mapped.AddConfigEntry("session.use_ort_model_bytes_for_initializers", "1");
    try {
      return std::make_shared<Encoder>(std::make_unique<MappedFile>(compiled), mapped, input,
                                       output);
    } catch (const Ort::Exception&) {
      // Written by a runtime whose form this one does not read: the source still serves.
      if (!isFile(source)) throw;
    }
  }
  if (isFile(source)) {
    Ort::SessionOptions whole = options();
    whole.AddConfigEntry("session.load_model_format", "ONNX");
    return std::make_shared<Encoder>(source, whole, input, output);
  }
  throw Failure::missing(name);
}

}  // namespace quillmere
