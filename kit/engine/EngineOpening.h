// SPDX-License-Identifier: GPL-3.0-or-later
// Opening the engine, the one sequence both front ends run: the model directory, its embedder,
// the library's lock, the opening mode, then the library (upgraded when its schema is older).
// What it found is a code with its data; the front ends word it and decide what to ask.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "index/Library.h"
#include "index/LibraryLock.h"
#include "model/Embedder.h"

namespace quillmere {

// What an opening made; a part already made (an embedder, a lock) is used again.
struct OpenedEngine {
  std::filesystem::path modelDirectory;
  std::unique_ptr<Embedder> embedder;
  std::unique_ptr<LibraryLock> lock;  // absent: reading only
  std::unique_ptr<Library> library;
};

class EngineOpening {
 public:
  enum class Access {
    reads,    // no lock, read-only beside any writer; the library must exist
    writes,   // under the lock, creating the library; another model's frames stay
    indexes,  // as writes, adopting the model set: another model's frames are dropped
  };

  enum class Outcome {
    opened,
    readOnly,     // opened to read only: another process indexes the library
    otherModel,   // opened; the library was indexed with another model than the one set
    olderSchema,  // model and lock ready; openLibrary() upgrades and opens the library
    failed,
  };

  enum class Failure {
    none,
    noModel,             // no model directory is set or installed
    modelDirectoryGone,  // the directory set does not exist
    modelUnreadable,     // the embedder refused it: detail is its error
    noLibrary,           // reading a library that does not exist
    busy,                // another process holds the lock, and reading only was not allowed
    lockFailed,          // detail is the file system's error
    libraryUnreadable,   // detail is the library's error
    newerLibrary,        // a newer version of the program made the library
  };

  struct Request {
    std::filesystem::path library;
    std::optional<std::filesystem::path> modelDirectory;  // default: Embedder::defaultDirectory()
    Access access = Access::writes;
    bool readOnlyWhenBusy = false;  // else a held lock fails with busy
    bool deferUpgrade = false;      // an older library stops at olderSchema
    Embedder::ComputeUnits computeUnits = Embedder::ComputeUnits::allCores();
    Embedder::ComputeUnits textComputeUnits = Embedder::ComputeUnits::oneThread();
    Library::UpgradeProgress onUpgrade;
  };

  struct Result {
    Outcome outcome = Outcome::failed;
    Failure failure = Failure::none;
    std::string detail;                       // the fixed text of the failure's error
    std::optional<std::string> libraryModel;  // otherModel: the model the library was made with
    std::string model;                        // the model set
  };

  // Fills engine in order and stops at the first failure, leaving what was made.
  static Result open(const Request& request, OpenedEngine& engine);
  // The library alone, for the model given, under the lock when locked; may run on another
  // thread than open(), as it touches only library.
  static Result openLibrary(const Request& request, const ModelInfo& model, bool locked,
                            std::unique_ptr<Library>& library);

 private:
  static std::optional<Result> openModel(const Request& request, OpenedEngine& engine);
  static std::optional<Result> lock(const Request& request, OpenedEngine& engine);
  static Library::Opening opening(const Request& request, bool locked);
};

}  // namespace quillmere
