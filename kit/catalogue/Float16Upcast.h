// SPDX-License-Identifier: GPL-3.0-or-later
// Widens an ONNX graph kept in float16 to float32. ONNX Runtime's CPU kernels run a float16
// vision transformer slower than the same one in float32 (about 0.85 times as fast for
// ViT-B/16 here: its normalisations, softmax and activations convert on every run), so an
// export's float16 encoders are imported in float32: twice the disk, the same values.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "catalogue/ImportStop.h"

namespace onnx {
class ModelProto;
}

namespace quillmere {

class Float16Upcast {
 public:
  // Why the graph stays in float16; what() is the weight's name or the file.
  class Failure : public std::runtime_error {
   public:
    enum class Reason {
      externalWeight,  // what(): a float16 weight kept in a file of its own
      tooLarge,        // in float32 it would pass the 2 GB an ONNX file holds
      cannotWrite,     // what(): the target
    };
    Failure(Reason reason, const std::string& name) : std::runtime_error(name), reason_(reason) {}
    Reason reason() const { return reason_; }

   private:
    Reason reason_;
  };

  // Reads the graph at `source` and widens it in memory, one tensor at a time with no more
  // than that tensor's float32 copy beside it. A file that is no ONNX model has nothing to
  // widen: the runtime that loads it names its fault better. Reading, widening and writing
  // ask `stop` as they go (its Stopped is thrown).
  explicit Float16Upcast(const std::filesystem::path& source, ImportStop stop = {});
  ~Float16Upcast();

  // The float16 weights, types and casts widened; none means the graph had nothing to widen.
  std::size_t widened() const { return widened_; }

  // Writes the float32 graph to `target`. Throws Failure when it cannot be written, keeps
  // float16 weights in files of their own, or would pass the 2 GB an ONNX file holds.
  void write(const std::filesystem::path& target) const;

 private:
  std::unique_ptr<onnx::ModelProto> model_;
  ImportStop stop_;
  std::size_t widened_ = 0;
  std::string external_;  // a float16 weight kept outside the graph, which stays unwidened
};

}  // namespace quillmere
