// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "engine/EngineOpening.h"
#include "index/SQLite.h"
#include "support/TempDirectory.h"

namespace quillmere {
namespace {

using Access = EngineOpening::Access;
using Failure = EngineOpening::Failure;
using Outcome = EngineOpening::Outcome;

struct Case {
  const char* name;
  std::function<void(const std::filesystem::path& library, EngineOpening::Request&)> before;
  Outcome outcome;
  Failure failure;
  bool locked;
  bool libraryExists;  // afterwards
};

TEST(EngineOpeningTest, EachOpeningReportsWhatItFound) {
  const auto writes = [](const std::filesystem::path&, EngineOpening::Request&) {};
  std::unique_ptr<LibraryLock> other;  // another process's writer
  const Case cases[] = {
      {"new library", writes, Outcome::opened, Failure::none, true, true},
      {"reading what is not there",
       [](const auto&, auto& request) { request.access = Access::reads; }, Outcome::failed,
       Failure::noLibrary, false, false},
      {"no model directory",
       [](const auto& library, auto& request) {
         request.modelDirectory = library.parent_path() / "no-model";
       },
       Outcome::failed, Failure::modelDirectoryGone, false, false},
      {"another writer",
       [&](const auto& library, auto&) { other = std::make_unique<LibraryLock>(library); },
       Outcome::failed, Failure::busy, false, false},
      {"another writer, reading only",
       [&](const auto& library, auto& request) {
         OpenedEngine first;
         EngineOpening::open({.library = library}, first);
         other = std::move(first.lock);
         request.readOnlyWhenBusy = true;
       },
       Outcome::readOnly, Failure::none, false, true},
      {"another writer of another model, reading only",
       [&](const auto& library, auto& request) {
         Library(library, 4, "made before");
         other = std::make_unique<LibraryLock>(library);
         request.readOnlyWhenBusy = true;
       },
       Outcome::otherModel, Failure::none, false, true},
      {"another model", [](const auto& library, auto&) { Library(library, 4, "made before"); },
       Outcome::otherModel, Failure::none, true, true},
      {"not a library",
       [](const auto& library, auto&) { std::ofstream(library) << "not a database"; },
       Outcome::failed, Failure::libraryUnreadable, true, true},
      {"made by a newer version",
       [](const auto& library, auto&) {
         Library(library, 4, "made before");
         SQLite(library.string()).exec("UPDATE meta SET value='99' WHERE key='schema'");
       },
       Outcome::failed, Failure::newerLibrary, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDirectory dir;
    const auto library = dir / "Library.sqlite";
    EngineOpening::Request request{.library = library};
    c.before(library, request);
    OpenedEngine engine;
    const auto result = EngineOpening::open(request, engine);
    other.reset();
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.failure, c.failure);
    EXPECT_EQ(engine.lock != nullptr, c.locked);
    EXPECT_EQ(engine.library != nullptr, c.outcome != Outcome::failed);
    EXPECT_EQ(std::filesystem::exists(library), c.libraryExists);
    if (c.outcome == Outcome::otherModel) {
      EXPECT_EQ(result.libraryModel, "made before");
      EXPECT_EQ(result.model, engine.embedder->info().signature());
    }
  }
}

}  // namespace
}  // namespace quillmere
