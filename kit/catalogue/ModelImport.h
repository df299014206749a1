// SPDX-License-Identifier: GPL-3.0-or-later
// Reads a published ONNX export of an image-text model and writes a model directory the
// engine loads. Two folder layouts are known:
//  - Immich's exports: visual/model.onnx + visual/preprocess_cfg.json, textual/model.onnx +
//    textual/tokenizer.json (+ tokenizer_config.json), config.json (OpenCLIP's);
//  - Optimum / transformers.js: onnx/vision_model.onnx, onnx/text_model.onnx, config.json,
//    preprocessor_config.json, tokenizer.json (+ tokenizer_config.json).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "catalogue/Float16Upcast.h"
#include "catalogue/ImportStop.h"
#include "model/ModelInfo.h"

namespace quillmere {

class ModelImport {
 public:
  // What can't be imported, as a reason with its data; the front ends word it and say what
  // would work instead. what() is the error underneath, when there is one.
  class Refusal : public std::runtime_error {
   public:
    enum class Reason {
      cannotRead,          // path
      notJSON,             // path, detail
      notThreeNumbers,     // name: the key
      cannotWrite,         // path
      notAFolder,          // path
      notVariant,          // name: what was given
      malformed,           // detail: the configuration is not in its exporter's form
      unreadableEncoders,  // path, other: the two encoders
      unknownLayout,       // path
      incomplete,          // name: the missing file, relative; path: the export
      variantOfImmich,     // path
      pooledWidthsDiffer,  // first: image width, second: text width
      severalVariants,     // names, path
      tokenizer,           // path: tokenizer.json, detail: the converter's refusal
      noSizeOrWidth,       // the configuration gives no image size or embedding width
      exists,              // path: the destination
      failed,              // detail
      imageGraph,          // name: the input, other: the output the configuration names
      textGraph,           // name, other: as for imageGraph
      imageSizeDiffers,    // dimensions: the graph's input, first: the configuration's size
      outputWidthsDiffer,  // first: image width, second: text width
      widthDiffers,        // first: the encoders' width, second: the configuration's
    };
    struct Data {
      std::string path;
      std::string other;
      std::string name;
      std::string detail;
      std::vector<std::string> names;
      std::vector<std::int64_t> dimensions;  // below 0: any size
      std::int64_t first = 0;
      std::int64_t second = 0;
    };
    Refusal(Reason reason, Data data);
    Reason reason() const { return reason_; }
    const Data& data() const { return data_; }

   private:
    Reason reason_;
    Data data_;
  };

  // A remark that does not stop the import, as a kind with its data for the front ends.
  struct Note {
    enum class Kind {
      soleVariant,    // name: the variant taken in place of the float32 encoders
      resampling,     // name: the filtering asked for, which is resampled bilinearly
      tokenizer,      // detail: the converter's note
      defaultLogits,  // scale and bias: the family's starting values taken
      widened,        // name: the encoder's file, widened from float16
      keptFloat16,    // name: the encoder's file, kept and detail: why it stays in float16
    };
    Kind kind;
    std::string name;
    std::string detail;
    Float16Upcast::Failure::Reason kept{};
    float scale = 0;
    float bias = 0;
    bool operator==(const Note&) const = default;
  };

  enum class Layout { immich, optimum };

  // Reads the export's configuration and tokenizer. `variant` names encoders published beside
  // the float32 ones (Optimum's onnx/vision_model_<variant>.onnx: "quantized", "int8",
  // "uint8", "fp16", "q4"...); empty for the float32 encoders. A variant's vectors differ
  // from the float32 encoders', so it is a model of its own: its name (and signature) ends in
  // _<variant>. Throws Refusal. `stop` is asked while the encoders are hashed here and
  // while write() works; a stop throws ImportStop::Stopped.
  explicit ModelImport(std::filesystem::path source, std::string variant = {},
                       ImportStop stop = {});

  Layout layout() const { return layout_; }
  const std::string& name() const { return name_; }
  const ModelInfo& info() const { return info_; }
  // Remarks that do not stop the import (tokenizer differences, defaults taken).
  const std::vector<Note>& notes() const { return notes_; }

  // Where an import goes unless told otherwise: the user's folder of models, under name().
  std::filesystem::path defaultDestination() const;

  // Writes the model directory at `destination`, which must not exist: into a temporary
  // sibling first, checked by running both encoders once, then renamed. Encoders are hard
  // links where the file system allows, copies otherwise; float16 encoders are widened to
  // float32, which runs faster (a note says so). On failure or a stop nothing is left.
  // Throws Refusal or ImportStop::Stopped.
  void write(const std::filesystem::path& destination);

  // The model.json text of info().
  static std::string modelJSON(const ModelInfo& info);

  // The files of an export in `layout` that the import reads, the encoders first; a download
  // fetches these and nothing else.
  static std::vector<std::string> filesOf(Layout layout, const std::string& variant = {});
  // Whether `variant` may name encoders: lower-case letters and digits.
  static bool isVariant(const std::string& variant);
  // The layout of an export holding `paths` (relative, with '/'); nothing when neither fits.
  static std::optional<Layout> layoutOf(const std::vector<std::string>& paths);

 private:
  void readLayout();
  void readImmich();
  void readOptimum();
  // Without float32 encoders, takes the one variant published in their place.
  void useSoleVariant();
  // Sets info_.interpolation, or the nearest kernel this program has with a note.
  void useInterpolation(const std::string& asked);
  void readTokenizer(const std::filesystem::path& tokenizerJSON,
                     const std::filesystem::path& tokenizerConfig);
  std::filesystem::path need(const std::filesystem::path& relative) const;
  // Puts an encoder into the model directory as `target`, in float32.
  void place(const std::filesystem::path& encoder, const std::filesystem::path& target);
  void check(const std::filesystem::path& directory) const;

  std::filesystem::path source_;
  std::string variant_;
  ImportStop stop_;
  Layout layout_ = Layout::immich;
  std::string name_;
  ModelInfo info_;
  std::filesystem::path imageEncoder_;
  std::filesystem::path textEncoder_;
  std::string tokenizerBytes_;
  std::vector<Note> notes_;
};

}  // namespace quillmere
