// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the search model's two encoders on ONNX Runtime: pictures become unit vectors in half
// precision, queries unit vectors in 32-bit floats, both of ModelInfo::dim components in one
// space. The encoders, the tokenizer and the pixel-buffer pool are created on first use under
// a lock (a failed creation stores nothing and is tried again next time); predictions run
// outside it, so the text and image sides may run at the same time. The image encoder's own
// worker threads run at background priority, as indexing does.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/Float16.h"
#include "core/Picture.h"
#include "core/ThreadAnnotations.h"
#include "model/ModelInfo.h"
#include "model/PixelBufferPool.h"

namespace Ort {
struct Value;
}

namespace quillmere {

class BPETokenizer;

class Embedder {
 public:
  class Failure : public std::runtime_error {
   public:
    enum class Kind { missing, output };
    // "The search model is incomplete (<name> is missing). Reinstall Quillmere."
    static Failure missing(const std::string& name);
    // "The search model returned no result."
    static Failure output();
    Kind kind() const { return kind_; }
    const std::string& name() const { return name_; }

   private:
    Failure(Kind kind, std::string name, const std::string& text);
    Kind kind_;
    std::string name_;
  };

  // Intra-op threads of an encoder's session; 0 means one per hardware thread.
  struct ComputeUnits {
    int intraOpThreads = 0;
    static ComputeUnits allCores() { return {0}; }
    static ComputeUnits oneThread() { return {1}; }
    bool operator==(const ComputeUnits&) const = default;
  };

  // Reads <directory>/model.json. Throws Failure::missing("model.json") when it can't be
  // read, ModelInfo::DecodingError when it is malformed.
  explicit Embedder(std::filesystem::path directory,
                    ComputeUnits computeUnits = ComputeUnits::allCores(),
                    ComputeUnits textComputeUnits = ComputeUnits::oneThread());
  ~Embedder();
  Embedder(const Embedder&) = delete;
  Embedder& operator=(const Embedder&) = delete;

  // QUILLMERE_MODEL_DIR as it stands when set, else the model the user chose (ModelChoice),
  // else the resources' Model folder, else nothing.
  static std::optional<std::filesystem::path> defaultDirectory();
  static std::optional<std::filesystem::path> defaultDirectory(
      const std::optional<std::filesystem::path>& resourcesDirectory);

  const ModelInfo& info() const { return info_; }
  const std::filesystem::path& directory() const { return directory_; }

  // One vector per picture, in order, from one batch run of the image encoder. Failure::output
  // when a picture can't be prepared or the result is unusable; runtime errors pass through.
  std::vector<std::vector<Half>> embed(std::span<const Picture> images);
  // The query's unit vector.
  std::vector<float> embed(std::string_view text);
  // Loads the text side, then the tokenizer's encode of the text.
  std::vector<std::int32_t> tokenize(std::string_view text);
  // 1 / (1 + e^-(score * logitScale + logitBias)).
  float probability(float score) const;
  // Drops the image encoder and the pixel pool; the next image embedding loads them again.
  // What a release frees goes back to the system, not to the allocator's free lists.
  void releaseImages();
  // Drops each side not used for `idle` (the text side: its encoder and tokenizer), as
  // releaseImages does; the next use loads it again. Front ends call it now and then, so that
  // a model of a gigabyte does not stay in memory between searches.
  void releaseIdle(std::chrono::steady_clock::duration idle);

  // Writes <name>.ort beside an encoder's <name>.onnx: the graph optimised once, in the form
  // the runtime maps from disk instead of copying its weights into memory. Throws the
  // runtime's error when the graph can't be loaded; nothing is left behind then.
  static void compile(const std::filesystem::path& source, const std::filesystem::path& target);

  // Dimensions an encoder's graph declares for its named input and output (-1: any size;
  // empty: no such name). Loads that side.
  struct Shapes {
    std::vector<std::int64_t> input;
    std::vector<std::int64_t> output;
  };
  Shapes imageShapes();
  Shapes textShapes();

  // The text side's lazy load on its own, to warm it up at start-up.
  void prepareText();

 private:
  struct Encoder;
  struct TextSide {
    std::shared_ptr<const BPETokenizer> tokenizer;
    std::shared_ptr<Encoder> model;
  };
  // <name>.ort (pre-optimised, mapped from disk) first, then <name>.onnx (optimised as it
  // loads, its weights copied into memory).
  // The runtime's worker threads for the image encoder run at background priority.
  enum class Priority { normal, background };
  std::shared_ptr<Encoder> openEncoder(const std::string& name, ComputeUnits units,
                                       const std::string& input, const std::string& output,
                                       Priority priority) const;
  // Frames start..start+count of the lease as the encoder's input of `items` images (the
  // last frame repeated to fill a fixed batch).
  Ort::Value imageTensor(PixelBufferPool::Lease& lease, std::size_t start, std::size_t count,
                         std::size_t items) const;
  TextSide loadText();
  std::shared_ptr<Encoder> loadImages();
  std::shared_ptr<PixelBufferPool> pixelPool();

  ModelInfo info_;
  std::filesystem::path directory_;
  ComputeUnits computeUnits_;
  ComputeUnits textComputeUnits_;

  // Held only while the members below are made, used or dropped.
  Mutex lock_;
  std::shared_ptr<Encoder> imageModel_ GUARDED_BY(lock_);
  std::shared_ptr<Encoder> textModel_ GUARDED_BY(lock_);
  std::shared_ptr<const BPETokenizer> tokenizer_ GUARDED_BY(lock_);
  std::shared_ptr<PixelBufferPool> pixelPool_ GUARDED_BY(lock_);
  std::chrono::steady_clock::time_point imagesUsed_ GUARDED_BY(lock_);
  std::chrono::steady_clock::time_point textUsed_ GUARDED_BY(lock_);
};

}  // namespace quillmere
