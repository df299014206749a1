// SPDX-License-Identifier: GPL-3.0-or-later
// The published exports the program offers to download, read from the models.json installed
// with it (<prefix>/share/quillmere/models.json). Both front ends list and look up models here.
// A quantised variant an export publishes beside its float encoders is an entry of its own,
// "<id>-<variant>", so that each can be listed, downloaded and chosen as a model.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "catalogue/ModelDownload.h"

namespace quillmere {

class ModelCatalogue {
 public:
  // A list of models that can't be read, as a reason with its data; what() is the error
  // underneath, when there is one.
  class Failure : public std::runtime_error {
   public:
    enum class Reason {
      unreadable,     // path
      notRepository,  // path, name: what it gives instead of owner/name
      damaged,        // path, detail
    };
    Failure(Reason reason, std::string path, std::string name = {}, const std::string& detail = {})
        : std::runtime_error(detail),
          reason_(reason),
          path_(std::move(path)),
          name_(std::move(name)) {}
    Reason reason() const { return reason_; }
    const std::string& path() const { return path_; }
    const std::string& name() const { return name_; }

   private:
    Reason reason_;
    std::string path_;
    std::string name_;
  };

  struct Entry {
    std::string id;
    std::string name;
    std::string repository;       // owner/name on the hub
    std::uint64_t megabytes = 0;  // the download
    std::string languages;
    double quality = 0;  // zero-shot ImageNet-1k top-1, in percent
    std::string qualitySource;
    double imageGflops = 0;  // the image encoder's cost per photo
    bool confirmed = false;  // sizes and files checked against the hub
    bool recommended = false;
    std::string variant;  // the encoders' variant ("quantized"); empty for the float ones
    // The image encoder's photos a second over the full model's where that holds on any
    // processor (1 for the full model and a widened fp16 variant); 0 when it depends on the
    // processor (int8), and no figure is shown.
    double speedup = 1;

    // The folder it is downloaded into, under the models folder: the repository's name, with
    // _<variant> for a variant, as ModelDownload names it.
    std::string folder() const {
      return ModelDownload::nameOf(repository) + (variant.empty() ? "" : "_" + variant);
    }

    bool operator==(const Entry&) const = default;
  };

  // Reads a catalogue file. Throws Failure.
  explicit ModelCatalogue(const std::filesystem::path& file);
  // The catalogue installed with the program; empty when there is none.
  static ModelCatalogue installed();

  const std::vector<Entry>& entries() const { return entries_; }
  // The entry with this id or repository; nullptr when none has it.
  const Entry* find(const std::string& idOrRepository) const;
  // The ids, for a message naming what can be asked for.
  std::string ids() const;

 private:
  ModelCatalogue() = default;
  std::vector<Entry> entries_;
};

}  // namespace quillmere
