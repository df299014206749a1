// SPDX-License-Identifier: GPL-3.0-or-later
// The subcommands of quillmere-cli over the engine: the library file ($QUILLMERE_LIBRARY or
// the per-user default) and the model directory ($QUILLMERE_MODEL_DIR or the installed one)
// that the desktop application uses too. Each group of commands lives in its own file with
// its options: LibraryCommands (add, remove, folders, status, failed, retry), IndexCommand,
// SearchCommands (search, similar, export), TextCommand (text), DuplicatesCommand,
// ModelCommands (model, tokenize), PeopleCommand (people).
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "CommandLine.h"
#include "DuplicatesCommand.h"
#include "IndexCommand.h"
#include "PeopleCommand.h"
#include "SearchCommands.h"
#include "engine/EngineOpening.h"
#include "index/Library.h"
#include "index/LibraryLock.h"
#include "people/People.h"
#include "search/SearchFilter.h"
#include "search/SearchResult.h"

namespace quillmere {

class Embedder;
class Library;
class MountTable;
class SearchEngine;

class Commands {
 public:
  using Error = CommandError;

  static constexpr std::size_t defaultLimit = 20;
  static constexpr std::size_t exportLimit = 300;

  // argv without the program name; returns the exit status. Throws Error.
  int run(const std::vector<std::string>& args);
  static std::string usage();

  Commands();
  ~Commands();

 private:
  using Options = CommandLine::PlainOptions;

  // What a command does with the library.
  enum class Access {
    none,     // does not open it
    reads,    // read-only beside any writer, no lock; the library must exist
    writes,   // under the exclusive lock, creating the library; another model's frames stay
    indexes,  // as writes, adopting the model set: another model's frames are dropped
  };

  struct Command;
  // Reads the command's own options, opens what it needs and runs it.
  using Runner = int (*)(Commands&, const Command&, const std::vector<std::string>&);

  // One subcommand: how it is called and what runs it.
  struct Command {
    std::string_view name;
    std::string_view synopsis;  // its line in usage()
    std::vector<std::string_view> options;
    Access access = Access::none;
    std::size_t leastOperands = 0;
    std::optional<std::size_t> mostOperands;  // none: no limit
    std::string_view wanted;                  // what too few operands lack
    bool needsOutput = false;                 // -o FILE
    bool needsVectors = false;                // refuses a library indexed with another model
    Runner run = nullptr;
  };

  template <class CommandOptions, int (Commands::*handler)(const CommandOptions&)>
  static int runWith(Commands& self, const Command& command, const std::vector<std::string>& args) {
    const auto options = CommandLine::parse<CommandOptions>(
        command.name, command.options, command.access == Access::none, args, &usage);
    bool output = false;
    if constexpr (requires { options.output; }) output = options.output.has_value();
    self.start(command, options.operands, output);
    return (self.*handler)(options);
  }

  static const std::vector<Command>& commands();
  static const Command& find(const std::string& name);
  static void checkOperands(const Command& command, const std::vector<std::string>& operands,
                            bool output);
  // Checks the operands, then opens what the command needs.
  void start(const Command& command, const std::vector<std::string>& operands, bool output);

  void openEngine(const Command& command);
  // Why the engine could not be opened, and what to do about it.
  std::string failureText(const EngineOpening::Result& result, bool reads) const;
  // The library was indexed with another model than the one set: what to do about it.
  std::string modelMismatch(const EngineOpening::Result& result) const;

  static std::optional<Root> findRoot(const Library& library, const std::string& folder);
  static bool isOnline(const Root& root, const MountTable& drives);

  // LibraryCommands.cpp
  int add(const Options& options);
  int remove(const Options& options);
  int folders(const Options& options);
  int status(const Options& options);
  int failed(const Options& options);
  int retry(const Options& options);
  // IndexCommand.cpp
  int index(const IndexOptions& options);
  // SearchCommands.cpp
  int search(const SearchOptions& options);
  int similar(const SearchOptions& options);
  int exportMarkers(const SearchOptions& options);
  SearchFilter filter(const SearchOptions& options) const;
  // similar --face: the pictures with faces like it.
  int similarFace(const SearchOptions& options);
  // search and similar after the query's vector is made: search (finding the words written in
  // pictures too), refine when asked, print.
  int searchAndPrint(const std::string& query, std::span<const float> vector,
                     const SearchOptions& options, std::string_view words = {});
  // TextCommand.cpp
  int text(const Options& options);
  // PeopleCommand.cpp
  int people(const PeopleOptions& options);
  // The library's people, grouped at the installed face model's distance.
  People libraryPeople();
  Library::Person person(People& people, const std::string& idOrName);
  int listPeople(People& people, bool json);
  int showPerson(People& people, const Library::Person& person);
  void printMoment(const People::Moment& moment, bool scored) const;
  int forgetFaces(People& people, bool yes);
  // At the end of index: the faces that arrived join people.
  void groupFaces();
  // DuplicatesCommand.cpp
  int duplicates(const DuplicatesOptions& options);
  // ModelCommands.cpp
  int tokenize(const Options& options);
  int model(const Options& options);
  int showModel();
  int importModel(const std::string& source, const std::string& destination,
                  const std::string& variant);
  int useModel(const std::string& nameOrDirectory);
  int listModels(bool available);
  int downloadModel(const std::string& wanted, bool use, const std::string& variant);
  // Removes a download stopped on the way.
  int discardDownload(const std::string& wanted, const std::string& variant);

  // Output.cpp
  void print(const std::string& query, const std::vector<SearchResult>& results,
             const SearchOptions& options) const;
  std::filesystem::path location(const MediaFile& file) const;

  std::filesystem::path modelDirectory_;
  std::unique_ptr<Embedder> embedder_;
  std::unique_ptr<LibraryLock> lock_;
  std::unique_ptr<Library> library_;
  std::filesystem::path libraryPath_;
};

}  // namespace quillmere
