// SPDX-License-Identifier: GPL-3.0-or-later
#include "EngineOpening.h"

#include <exception>
#include <system_error>

namespace quillmere {
namespace {

EngineOpening::Result failed(EngineOpening::Failure failure, std::string detail = {}) {
  return {
      .outcome = EngineOpening::Outcome::failed, .failure = failure, .detail = std::move(detail)};
}

}  // namespace

std::optional<EngineOpening::Result> EngineOpening::openModel(const Request& request,
                                                              OpenedEngine& engine) {
  if (engine.embedder) return std::nullopt;
  const auto directory =
      request.modelDirectory ? request.modelDirectory : Embedder::defaultDirectory();
  if (!directory) return failed(Failure::noModel);
  engine.modelDirectory = *directory;
  std::error_code error;
  const bool exists = std::filesystem::is_directory(*directory, error);
  try {
    engine.embedder =
        std::make_unique<Embedder>(*directory, request.computeUnits, request.textComputeUnits);
  } catch (const std::exception& failure) {
    return failed(exists ? Failure::modelUnreadable : Failure::modelDirectoryGone, failure.what());
  }
  return std::nullopt;
}

std::optional<EngineOpening::Result> EngineOpening::lock(const Request& request,
                                                         OpenedEngine& engine) {
  if (request.access == Access::reads) {
    std::error_code error;
    // Only an opening that writes may create the library.
    if (!std::filesystem::exists(request.library, error) && !error)
      return failed(Failure::noLibrary);
    return std::nullopt;
  }
  if (engine.lock) return std::nullopt;
  try {
    engine.lock = std::make_unique<LibraryLock>(request.library);
  } catch (const LibraryLock::Busy&) {
    if (!request.readOnlyWhenBusy) return failed(Failure::busy);
  } catch (const std::exception& failure) {
    return failed(Failure::lockFailed, failure.what());
  }
  return std::nullopt;
}

Library::Opening EngineOpening::opening(const Request& request, bool locked) {
  if (request.access == Access::reads || !locked) return Library::Opening::readOnly;
  return request.access == Access::indexes ? Library::Opening::adopt : Library::Opening::keepFrames;
}

EngineOpening::Result EngineOpening::open(const Request& request, OpenedEngine& engine) {
  if (auto failure = openModel(request, engine)) return *failure;
  if (auto failure = lock(request, engine)) return *failure;
  bool older = false;
  try {
    older = request.deferUpgrade &&
            opening(request, engine.lock != nullptr) != Library::Opening::readOnly &&
            Library::isOlder(request.library);
  } catch (const std::exception&) {
    // The opening meets the same fault and says what it is.
  }
  if (older) return {.outcome = Outcome::olderSchema, .model = engine.embedder->info().signature()};
  return openLibrary(request, engine.embedder->info(), engine.lock != nullptr, engine.library);
}

EngineOpening::Result EngineOpening::openLibrary(const Request& request, const ModelInfo& model,
                                                 bool locked, std::unique_ptr<Library>& library) {
  try {
    library =
        std::make_unique<Library>(request.library, static_cast<std::size_t>(model.dim),
                                  model.signature(), opening(request, locked), request.onUpgrade);
  } catch (const Library::Newer&) {
    return failed(Failure::newerLibrary);
  } catch (const std::exception& failure) {
    return failed(Failure::libraryUnreadable, failure.what());
  }
  Result result{.outcome = Outcome::opened, .model = library->modelSignature()};
  if (!library->modelMatches()) {
    result.outcome = Outcome::otherModel;
    result.libraryModel = library->storedModelSignature();
  } else if (!locked && request.access != Access::reads) {
    result.outcome = Outcome::readOnly;
  }
  return result;
}

}  // namespace quillmere
