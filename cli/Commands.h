// SPDX-License-Identifier: GPL-3.0-or-later
// The subcommands of quillmere-cli over the engine: the library file ($QUILLMERE_LIBRARY or
// the per-user default) and the model directory ($QUILLMERE_MODEL_DIR or the installed one)
// that the desktop application uses too.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "index/LibraryLock.h"
#include "search/PictureRegion.h"
#include "search/SearchFilter.h"
#include "search/SearchResult.h"

namespace quillmere {

class Embedder;
class Library;
class SearchEngine;

class Commands {
 public:
  // A failure the user can act on; status is the exit status (2 for wrong usage).
  class Error : public std::runtime_error {
   public:
    Error(const std::string& message, int status = 1);
    int status() const { return status_; }

   private:
    int status_;
  };

  static constexpr std::size_t defaultLimit = 20;
  static constexpr std::size_t exportLimit = 300;

  // argv without the program name; returns the exit status. Throws Error.
  int run(const std::vector<std::string>& args);
  static std::string usage();
  // A path (or message) on one line, unambiguous: backslashes, control characters and bytes
  // that are not UTF-8 are written as C escapes (\\, \n, \t, \r, \xNN), the rest as it is.
  static std::string printable(std::string_view text);

  Commands();
  ~Commands();

 private:
  // Options any command may carry; each command accepts only its own.
  struct Options {
    std::vector<std::string> operands;
    bool watch = false;
    bool photos = false;
    bool videos = false;
    bool exact = false;
    bool json = false;
    bool near = false;
    std::optional<std::string> folder;
    std::optional<std::size_t> limit;
    std::optional<std::string> output;
    std::optional<double> after;  // seconds since 1970: the start of the day or month given
    std::optional<double> before;
    SearchFilter::Order order = SearchFilter::Order::best;
    std::optional<float> minProbability;
    std::vector<std::string> plus;  // similar: texts added to the picture, and taken away
    std::vector<std::string> minus;
    std::optional<PictureRegion> region;  // similar: the part of the picture searched by
  };

  // What a command does with the library.
  enum class Access {
    none,     // does not open it
    reads,    // read-only beside any writer, no lock; the library must exist
    writes,   // under the exclusive lock, creating the library; another model's frames stay
    indexes,  // as writes, adopting the model set: another model's frames are dropped
  };

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
    int (Commands::*handler)(const Options&) = nullptr;
  };

  static const std::vector<Command>& commands();
  static const Command& find(const std::string& name);
  static Options parse(const Command& command, const std::vector<std::string>& args);
  static void checkOperands(const Command& command, const Options& options);

  // Start-up in the application's order: model directory, embedder, lock, library.
  void openEngine(const Command& command);
  void openModel();
  void openLibrary(Access access);
  // The library was indexed with another model than the one set: what to do about it.
  std::string modelMismatch() const;

  int add(const Options& options);
  int remove(const Options& options);
  int folders(const Options& options);
  int index(const Options& options);
  int search(const Options& options);
  int similar(const Options& options);
  int duplicates(const Options& options);
  int exportMarkers(const Options& options);
  int status(const Options& options);
  int failed(const Options& options);
  int retry(const Options& options);
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

  SearchFilter filter(const Options& options) const;
  void print(const std::string& query, const std::vector<SearchResult>& results,
             const Options& options) const;
  // search and similar after the query's vector is made: search, refine when asked, print.
  int searchAndPrint(const std::string& query, std::span<const float> vector,
                     const Options& options);
  std::filesystem::path location(const MediaFile& file) const;

  std::filesystem::path modelDirectory_;
  std::unique_ptr<Embedder> embedder_;
  std::unique_ptr<LibraryLock> lock_;
  std::unique_ptr<Library> library_;
  std::filesystem::path libraryURL_;
};

}  // namespace quillmere
