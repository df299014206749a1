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

#include "LibraryLock.h"
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
  };

  static Options parse(const std::string& command, const std::vector<std::string>& args);

  // Start-up in the application's order: model directory, embedder, lock, library.
  void openEngine(LibraryLock::Mode mode);

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

  SearchFilter filter(const Options& options) const;
  void print(const std::string& query, const std::vector<SearchResult>& results, bool json) const;
  // Moves each video result to its best-matching exact frame (--exact).
  void refineAll(SearchEngine& engine, std::vector<SearchResult>& results,
                 std::span<const float> query) const;
  std::filesystem::path location(const MediaFile& file) const;

  std::unique_ptr<Embedder> embedder_;
  std::unique_ptr<LibraryLock> lock_;
  std::unique_ptr<Library> library_;
  std::filesystem::path libraryURL_;
};

}  // namespace quillmere
