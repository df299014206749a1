// SPDX-License-Identifier: GPL-3.0-or-later
// The quillmere-cli subcommands: parsing their options, opening the engine, running each.
#include "Commands.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "ProgressBar.h"
#include "Words.h"
#include "core/StandardPath.h"
#include "core/Utf8.h"
#include "duplicates/DuplicateFinder.h"
#include "export/ExportPlan.h"
#include "export/MarkerExport.h"
#include "index/FolderRules.h"
#include "index/Library.h"
#include "indexer/Indexer.h"
#include "model/BPETokenizer.h"
#include "model/DownloadStaging.h"
#include "model/Embedder.h"
#include "model/ModelCatalogue.h"
#include "model/ModelChoice.h"
#include "model/ModelDownload.h"
#include "model/ModelImport.h"
#include "platform/MountTable.h"
#include "scan/FolderWatcher.h"
#include "scan/Timecode.h"
#include "search/MoreLikeThis.h"
#include "search/QueryTerms.h"
#include "search/SearchEngine.h"

namespace quillmere {
namespace {

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int) {
  interrupted = 1;
}

// From here on SIGINT and SIGTERM only set the flag, so that indexing stops cleanly.
void catchInterrupts() {
  interrupted = 0;
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

std::optional<Root> findRoot(const Library& library, const std::string& folder) {
  const auto key = standardPath(folder);
  for (const auto& root : library.roots()) {
    if (standardPath(root.path) == key) return root;
  }
  return std::nullopt;
}

const char* kindName(MediaKind kind) {
  return kind == MediaKind::video ? "video" : "photo";
}

bool isOnline(const Root& root, const MountTable& drives) {
  return FolderRules::reachablePath(root, drives).has_value();
}

std::size_t parseLimit(const std::string& text) {
  std::size_t used = 0;
  long long value = -1;
  try {
    value = std::stoll(text, &used);
  } catch (const std::exception&) {
    // Not a number at all: the check below reports it with the rest.
  }
  if (used != text.size() || value < 1 || value > 100000) {
    throw Commands::Error("--limit wants a whole number from 1 to 100000, not '" + text + "'", 2);
  }
  return static_cast<std::size_t>(value);
}

std::optional<double> parseSeconds(const std::string& text) {
  if (text.empty()) return std::nullopt;
  std::size_t used = 0;
  try {
    const double value = std::stod(text, &used);
    if (used == text.size() && value >= 0 && std::isfinite(value)) return value;
  } catch (const std::exception&) {
    // Not a number: the caller reports the operand as it was given.
  }
  return std::nullopt;
}

// "X,Y,W,H" in fractions of the picture.
PictureRegion parseRegion(const std::string& text) {
  const auto region = PictureRegion::parse(text);
  if (!region) {
    throw Commands::Error(
        "--region wants four numbers X,Y,W,H from 0 to 1, like 0.25,0.25,0.5,0.5, not '" + text +
            "'",
        2);
  }
  if (const auto fault = region->fault(); !fault.empty())
    throw Commands::Error("--region " + text + ": " + fault, 2);
  return *region;
}

// A day "2024-06-01" or month "2024-06" as the start of it in local time.
double parseDate(const std::string& option, const std::string& text) {
  const std::optional<double> start = CaptureTime::startOf(text);
  if (!start) {
    throw Commands::Error(
        option + " wants a date like 2024-06-01 or a month like 2024-06, not '" + text + "'", 2);
  }
  return *start;
}

SearchFilter::Order parseOrder(const std::string& text) {
  if (text == "best") return SearchFilter::Order::best;
  if (text == "newest") return SearchFilter::Order::newest;
  if (text == "oldest") return SearchFilter::Order::oldest;
  throw Commands::Error("--order wants best, newest or oldest, not '" + text + "'", 2);
}

// "0.25" or "25%".
float parseProbability(const std::string& text) {
  const bool percent = !text.empty() && text.back() == '%';
  const std::string number = percent ? text.substr(0, text.size() - 1) : text;
  std::size_t used = 0;
  double value = -1;
  try {
    value = std::stod(number, &used);
  } catch (const std::exception&) {
    // Not a number: reported below.
  }
  if (percent) value /= 100;
  if (number.empty() || used != number.size() || !(value >= 0 && value <= 1)) {
    throw Commands::Error(
        "--min-probability wants a number from 0 to 1 or a percentage like 10%, not '" + text + "'",
        2);
  }
  return static_cast<float>(value);
}

// Writes text to file through a temporary file in its directory, so no half file is left.
void writeAtomically(const std::filesystem::path& file, const std::string& text) {
  auto temporary = file;
  temporary += ".part-" + std::to_string(::getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      throw Commands::Error(Words::couldNotSave("cannot write " + file.string()));
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, file, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    throw Commands::Error(Words::couldNotSave(file.string() + ": " + error.message()));
  }
}

// "1 file", "2 files".
std::string counted(std::int64_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// A path under key. JSON text is Unicode, so a path that is not valid UTF-8 shows there with
// U+FFFD and comes whole under key + "_url" as its file URL, every other byte percent-encoded.
void putPath(nlohmann::json& object, const std::string& key, const std::string& path) {
  object[key] = path;
  if (!Utf8::isValid(path)) object[key + "_url"] = MarkerExport::fileURL(path);
}

}  // namespace

Commands::Error::Error(const std::string& message, int status)
    : std::runtime_error(message), status_(status) {}

std::string Commands::printable(std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  auto escape = [&](std::string_view bytes) {
    for (const char byte : bytes) {
      const auto c = static_cast<unsigned char>(byte);
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 0xF];
    }
  };
  for (std::size_t offset = 0; offset < text.size();) {
    const Utf8::Piece piece = Utf8::next(text, offset);
    const char32_t c = piece.character;
    if (!piece.wellFormed || ((c < 0x20 || c == 0x7F) && c != '\n' && c != '\t' && c != '\r')) {
      escape(piece.bytes);
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += piece.bytes;
    }
  }
  return out;
}

Commands::Commands() = default;
Commands::~Commands() = default;

const std::vector<Commands::Command>& Commands::commands() {
  using A = Access;
  static const std::vector<Command> table = {
      {.name = "add",
       .synopsis = "add FOLDER...            add folders to the library",
       .access = A::writes,
       .leastOperands = 1,
       .wanted = "at least one FOLDER",
       .handler = &Commands::add},
      {.name = "remove",
       .synopsis = "remove FOLDER...         forget folders (the files stay on disk)",
       .access = A::writes,
       .leastOperands = 1,
       .wanted = "at least one FOLDER",
       .handler = &Commands::remove},
      {.name = "folders",
       .synopsis = "folders                  the folders with their counts",
       .access = A::reads,
       .mostOperands = 0,
       .handler = &Commands::folders},
      {.name = "index",
       .synopsis = "index [--watch]          bring the library up to date (--watch: keep watching)",
       .options = {"--watch"},
       .access = A::indexes,
       .mostOperands = 0,
       .handler = &Commands::index},
      {.name = "search",
       .synopsis =
           "search TEXT [--photos|--videos] [--folder FOLDER] [--limit N] [--exact] [--json]\n"
           "           [--after DATE] [--before DATE] [--order best|newest|oldest]\n"
           "           [--min-probability P]\n"
           "    DATE is 2024-06-01 or 2024-06, in local time: --after takes moments from its\n"
           "    start on, --before those before its start. P is 0-1 or a percentage (10%).\n"
           "    TEXT may add and take away terms: 'beach + sunset - people', '2:golden retriever'.",
       .options = {"--photos", "--videos", "--folder", "--limit", "--exact", "--json", "--after",
                   "--before", "--order", "--min-probability"},
       .access = A::reads,
       .leastOperands = 1,
       .wanted = "a TEXT to search for",
       .needsVectors = true,
       .handler = &Commands::search},
      {.name = "similar",
       .synopsis = "similar PHOTO|FILE@SECONDS [--region X,Y,W,H] [--plus TEXT] [--minus TEXT]\n"
                   "           [same options as search]\n"
                   "    X,Y,W,H is a part of the picture in fractions of its width and height\n"
                   "    (0-1): '0.5,0,0.5,0.5' is the top right quarter.",
       .options = {"--photos", "--videos", "--folder", "--limit", "--exact", "--json", "--after",
                   "--before", "--order", "--min-probability", "--plus", "--minus", "--region"},
       .access = A::reads,
       .leastOperands = 1,
       .wanted = "a PHOTO or FILE@SECONDS",
       .needsVectors = true,
       .handler = &Commands::similar},
      {.name = "duplicates",
       .synopsis = "duplicates [--near] [--json]",
       .options = {"--near", "--json"},
       .access = A::reads,
       .mostOperands = 0,
       .needsVectors = true,
       .handler = &Commands::duplicates},
      {.name = "export",
       .synopsis = "export TEXT -o FILE.fcpxml|FILE.csv [--folder FOLDER] [--exact]",
       .options = {"-o", "--output", "--folder", "--exact"},
       .access = A::reads,
       .leastOperands = 1,
       .wanted = "a TEXT to search for",
       .needsOutput = true,
       .needsVectors = true,
       .handler = &Commands::exportMarkers},
      {.name = "status",
       .synopsis = "status [--json]          the library's totals",
       .options = {"--json"},
       .access = A::reads,
       .mostOperands = 0,
       .handler = &Commands::status},
      {.name = "failed",
       .synopsis = "failed                   the files that could not be indexed, with the reason",
       .access = A::reads,
       .mostOperands = 0,
       .handler = &Commands::failed},
      {.name = "retry",
       .synopsis = "retry                    make failed files pending again",
       .access = A::writes,
       .mostOperands = 0,
       .handler = &Commands::retry},
      {.name = "model",
       .synopsis = "model [import SOURCE [DEST] [--variant NAME] | use NAME|DIR|default |\n"
                   "        list [--available] | download ID|OWNER/NAME [--use] [--variant "
                   "NAME] |\n"
                   "        discard ID|OWNER/NAME [--variant NAME]]\n"
                   "                           the search model",
       .access = A::none,
       .handler = &Commands::model},
      {.name = "tokenize",
       .synopsis = "tokenize [TEXT...]       token ids of each query (one query a line from stdin)",
       .access = A::none,
       .handler = &Commands::tokenize},
  };
  return table;
}

std::string Commands::usage() {
  std::string text = "usage: quillmere-cli COMMAND [ARGS]\n";
  for (const auto& command : commands()) {
    text += "  ";
    text += command.synopsis;
    text += '\n';
  }
  return text + "  --help, --version\nUses $QUILLMERE_LIBRARY and $QUILLMERE_MODEL_DIR when set.\n";
}

const Commands::Command& Commands::find(const std::string& name) {
  for (const auto& command : commands()) {
    if (command.name == name) return command;
  }
  throw Error("unknown command '" + name + "'\n" + usage(), 2);
}

Commands::Options Commands::parse(const Command& command, const std::vector<std::string>& args) {
  const std::string name(command.name);
  Options options;
  // tokenize takes every argument as a query, whatever it looks like.
  bool operandsOnly = command.access == Access::none;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const auto& arg = args[i];
    if (operandsOnly || arg.size() < 2 || arg[0] != '-') {
      options.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      operandsOnly = true;
      continue;
    }
    if (std::find(command.options.begin(), command.options.end(), arg) == command.options.end()) {
      throw Error("'" + name + "' has no option " + arg + "\n" + usage(), 2);
    }
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) throw Error(arg + " needs a value", 2);
      return args[++i];
    };
    if (arg == "--watch") options.watch = true;
    if (arg == "--photos") options.photos = true;
    if (arg == "--videos") options.videos = true;
    if (arg == "--exact") options.exact = true;
    if (arg == "--json") options.json = true;
    if (arg == "--near") options.near = true;
    if (arg == "--folder") options.folder = value();
    if (arg == "--limit") options.limit = parseLimit(value());
    if (arg == "-o" || arg == "--output") options.output = value();
    if (arg == "--after") options.after = parseDate(arg, value());
    if (arg == "--before") options.before = parseDate(arg, value());
    if (arg == "--order") options.order = parseOrder(value());
    if (arg == "--min-probability") options.minProbability = parseProbability(value());
    if (arg == "--plus") options.plus.push_back(value());
    if (arg == "--minus") options.minus.push_back(value());
    if (arg == "--region") options.region = parseRegion(value());
  }
  if (options.photos && options.videos) throw Error("give --photos or --videos, not both", 2);
  if (options.after && options.before && *options.after >= *options.before)
    throw Error("--after must name a time before --before's", 2);
  return options;
}

void Commands::checkOperands(const Command& command, const Options& options) {
  const std::string name(command.name);
  const auto count = options.operands.size();
  if (command.mostOperands == 0u && count > 0) {
    throw Error(name + " takes no argument '" + options.operands.front() + "'", 2);
  }
  if (count < command.leastOperands) {
    throw Error(name + " needs " + std::string(command.wanted), 2);
  }
  if (command.needsOutput && !options.output) {
    throw Error(name + " needs -o FILE.fcpxml or -o FILE.csv", 2);
  }
}

int Commands::run(const std::vector<std::string>& args) {
  if (args.empty()) throw Error(usage(), 2);
  const auto& name = args.front();
  if (name == "help" || name == "--help" || name == "-h") {
    std::fputs(usage().c_str(), stdout);
    return 0;
  }
  if (name == "--version") {
    std::fputs("quillmere-cli " QUILLMERE_VERSION "\n", stdout);
    return 0;
  }
  const Command& command = find(name);
  const auto options = parse(command, {args.begin() + 1, args.end()});
  checkOperands(command, options);
  if (command.access == Access::indexes) catchInterrupts();
  if (command.access != Access::none) openEngine(command);
  return (this->*command.handler)(options);
}

void Commands::openEngine(const Command& command) {
  openModel();
  openLibrary(command.access);
  if (library_->modelMatches()) return;
  if (command.needsVectors) throw Error(modelMismatch());
  std::fprintf(stderr, "quillmere-cli: %s\n", modelMismatch().c_str());
}

void Commands::openModel() {
  const auto directory = Embedder::defaultDirectory();
  if (!directory) {
    throw Error(
        "No search model found. Set QUILLMERE_MODEL_DIR to a model directory (one holding "
        "model.json), or reinstall Quillmere.");
  }
  std::error_code error;
  if (!std::filesystem::is_directory(*directory, error)) {
    throw Error("The model directory " + directory->string() +
                " does not exist. Set QUILLMERE_MODEL_DIR to a model directory (one holding "
                "model.json), or reinstall Quillmere.");
  }
  modelDirectory_ = *directory;
  try {
    embedder_ = std::make_unique<Embedder>(*directory);
  } catch (const std::exception& failure) {
    throw Error(std::string(failure.what()) + " (model directory " + directory->string() + ")");
  }
}

void Commands::openLibrary(Access access) {
  libraryURL_ = Library::defaultURL();
  std::error_code error;
  const bool reads = access == Access::reads;
  // Only a command that writes may create the library.
  if (reads && !std::filesystem::exists(libraryURL_, error) && !error) {
    throw Error("There is no library at " + libraryURL_.string() +
                ". Add a folder with 'quillmere-cli add FOLDER' first, or set "
                "QUILLMERE_LIBRARY to your library file.");
  }
  try {
    if (!reads) lock_ = std::make_unique<LibraryLock>(libraryURL_);
  } catch (const LibraryLock::Busy& busy) {
    throw Error(busy.what());
  } catch (const std::exception& failure) {
    throw Error("Cannot lock the library " + libraryURL_.string() + ": " + failure.what() +
                ". Check the permissions of its folder, or set QUILLMERE_LIBRARY to another "
                "file.");
  }
  const auto opening = reads                       ? Library::Opening::readOnly
                       : access == Access::indexes ? Library::Opening::adopt
                                                   : Library::Opening::keepFrames;
  // A library of an older schema is upgraded once, on this opening: a large one takes a while.
  const auto upgrading = [](double fraction) {
    std::fprintf(stderr, "\rUpgrading the library: %3d%%", static_cast<int>(fraction * 100));
    if (fraction >= 1) std::fprintf(stderr, "\n");
  };
  try {
    library_ =
        std::make_unique<Library>(libraryURL_, static_cast<std::size_t>(embedder_->info().dim),
                                  embedder_->info().signature(), opening, upgrading);
  } catch (const std::exception& failure) {
    throw Error("Cannot open the library " + libraryURL_.string() + " (" + failure.what() +
                "). Check that it is a Quillmere library you may " +
                (reads ? "read" : "read and write") +
                ", or set "
                "QUILLMERE_LIBRARY to another file.");
  }
}

std::string Commands::modelMismatch() const {
  const auto stored = library_->storedModelSignature().value_or("?");
  const auto& set = library_->modelSignature();
  return "The library was indexed with the model " + stored + ", but the model set is " + set +
         " (" + modelDirectory_.string() + "). Set QUILLMERE_MODEL_DIR to the directory of " +
         stored + ", or run 'quillmere-cli index' to index every file again with " + set + ".";
}

std::filesystem::path Commands::location(const MediaFile& file) const {
  const auto url = library_->url(file);
  return url ? url->lexically_normal() : std::filesystem::path(file.relPath);
}

int Commands::add(const Options& options) {
  // Check every folder before changing anything.
  for (const auto& operand : options.operands) {
    std::error_code error;
    if (!std::filesystem::is_directory(operand, error)) {
      if (std::filesystem::exists(operand, error)) {
        throw Error("Not a folder: " + operand + ". Add the folder that holds it.");
      }
      throw Error("Folder not found: " + operand);
    }
  }
  const MountTable drives;
  for (const auto& operand : options.operands) {
    const auto result = FolderRules::add(*library_, operand, drives);
    const auto path = standardPath(operand);
    switch (result.outcome) {
      case FolderRules::Outcome::failed:
        throw Error(result.message);
      case FolderRules::Outcome::alreadyIncluded:
        std::printf("Already in the library: %s\n", printable(path).c_str());
        break;
      case FolderRules::Outcome::added:
        std::printf("Added %s\n", printable(path).c_str());
        for (const auto& nested : result.replaced) {
          std::printf("  in place of %s (its files are indexed again under the new folder)\n",
                      printable(nested.path).c_str());
        }
        break;
    }
  }
  std::printf("Run 'quillmere-cli index' to index the new files.\n");
  return 0;
}

int Commands::remove(const Options& options) {
  std::vector<Root> roots;
  for (const auto& operand : options.operands) {
    const auto root = findRoot(*library_, operand);
    if (!root) {
      throw Error("Folder not found in the library: " + operand + " (see 'quillmere-cli folders')");
    }
    roots.push_back(*root);
  }
  for (const auto& root : roots) {
    library_->removeRoot(root.id);
    std::printf("Removed %s\n", printable(root.path).c_str());
  }
  return 0;
}

int Commands::folders(const Options&) {
  const auto roots = library_->roots();
  if (roots.empty()) {
    std::printf("No folders. Add one with 'quillmere-cli add FOLDER'.\n");
    return 0;
  }
  const MountTable drives;
  for (const auto& root : roots) {
    const auto totals = library_->totals(std::set<std::int64_t>{root.id});
    std::printf("%s\n  %s, %s (%s, %s, %s): %lld indexed, %lld pending, %lld failed\n",
                printable(root.path).c_str(), isOnline(root, drives) ? "online" : "offline",
                counted(totals.files, "file").c_str(), counted(totals.photos, "photo").c_str(),
                counted(totals.videos, "video").c_str(), ProgressBar::bytes(totals.bytes).c_str(),
                static_cast<long long>(totals.indexed), static_cast<long long>(totals.pending),
                static_cast<long long>(totals.failed));
  }
  return 0;
}

int Commands::index(const Options& options) {
  const auto roots = library_->roots();
  if (roots.empty()) throw Error("No folders to index. Add one with 'quillmere-cli add FOLDER'.");
  const auto& stored = library_->storedModelSignature();
  if (stored && *stored != library_->modelSignature()) {
    std::printf(
        "The library was indexed with the model %s; the model set is %s. Every file will be "
        "indexed again.\n",
        printable(*stored).c_str(), printable(library_->modelSignature()).c_str());
  }
  const MountTable drives;
  for (const auto& root : roots) {
    if (!isOnline(root, drives)) {
      std::printf("Offline, skipped: %s\n", printable(root.path).c_str());
    }
  }
  std::mutex drawLock;  // guards bar and problem, which the indexer's thread sets
  ProgressBar bar(stdout, ::isatty(STDOUT_FILENO) == 1);
  Indexer indexer(*library_, *embedder_);
  std::optional<std::string> problem;
  std::vector<std::string> unreadable;
  indexer.onProgress = [&](const Indexer::Progress& progress) {
    std::lock_guard hold(drawLock);
    bar.show(progress);
    problem = progress.problem;
    unreadable = progress.unreadable;
  };
  std::unique_ptr<FolderWatcher> watcher;
  if (options.watch) {
    watcher = std::make_unique<FolderWatcher>([&](const std::set<std::int64_t>& changed) {
      indexer.run(std::vector<std::int64_t>(changed.begin(), changed.end()));
    });
    std::map<std::int64_t, std::string> paths;
    for (const auto& root : roots) {
      if (const auto place = FolderRules::reachablePath(root, drives)) paths[root.id] = *place;
    }
    watcher->watch(paths);
  }
  indexer.run();
  std::atomic<bool> idle{false};
  std::thread waiter;
  if (!options.watch) {
    waiter = std::thread([&] {
      indexer.waitUntilIdle();
      idle = true;
    });
  }
  while (!interrupted && !idle) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  watcher.reset();  // no new runs from here on
  if (interrupted) indexer.stop();
  if (waiter.joinable()) waiter.join();
  indexer.waitUntilIdle();
  indexer.onProgress = nullptr;
  {
    std::lock_guard hold(drawLock);
    bar.finish();
  }
  for (const std::string& path : unreadable) {
    std::printf("Can't read %s: what was stored from it is kept.\n", printable(path).c_str());
  }
  const auto totals = library_->totals();
  if (interrupted) {
    std::printf(
        "Stopped: %lld indexed, %lld pending, %lld failed. Run 'quillmere-cli index' "
        "to go on.\n",
        static_cast<long long>(totals.indexed), static_cast<long long>(totals.pending),
        static_cast<long long>(totals.failed));
    return 130;
  }
  if (problem) {
    std::printf("Stopped: %lld indexed, %lld pending, %lld failed.\n",
                static_cast<long long>(totals.indexed), static_cast<long long>(totals.pending),
                static_cast<long long>(totals.failed));
    throw Error(*problem);
  }
  std::printf("Indexed %lld of %lld files (%lld frames), %lld pending, %lld failed.\n",
              static_cast<long long>(totals.indexed), static_cast<long long>(totals.files),
              static_cast<long long>(totals.frames), static_cast<long long>(totals.pending),
              static_cast<long long>(totals.failed));
  if (totals.failed > 0) std::printf("See 'quillmere-cli failed' for the reasons.\n");
  return 0;
}

SearchFilter Commands::filter(const Options& options) const {
  SearchFilter filter;
  if (options.photos) filter.kinds = {MediaKind::photo};
  if (options.videos) filter.kinds = {MediaKind::video};
  if (options.folder) {
    const auto root = findRoot(*library_, *options.folder);
    if (!root) {
      throw Error("Folder not found in the library: " + *options.folder +
                  " (see 'quillmere-cli folders')");
    }
    filter.roots = std::set<std::int64_t>{root->id};
  }
  filter.takenFrom = options.after;
  filter.takenBefore = options.before;
  filter.order = options.order;
  // The probability each result shows is the one filtered by, for the demo model too.
  if (options.minProbability) filter.minProbability = *options.minProbability;
  return filter;
}

void Commands::print(const std::string& query, const std::vector<SearchResult>& results,
                     const Options& options) const {
  if (options.json) {
    auto list = nlohmann::json::array();
    for (const auto& result : results) {
      const CaptureTime taken = result.file.captureTime();
      nlohmann::json entry = {{"kind", kindName(result.file.kind)},
                              {"time", result.time},
                              {"timecode", timecode(result.time)},
                              {"score", result.score},
                              {"probability", result.probability},
                              {"file_id", result.file.id},
                              {"frame_id", result.frameID},
                              {"taken", taken.iso()},
                              {"taken_source", CaptureTime::name(taken.source)}};
      putPath(entry, "path", location(result.file).string());
      list.push_back(std::move(entry));
    }
    nlohmann::json document = {{"query", query}, {"results", list}};
    if (options.minProbability) document["likely_matches"] = results.size();
    std::printf("%s\n",
                document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return;
  }
  if (options.minProbability) {
    std::fprintf(stderr, "%zu likely match%s\n", results.size(), results.size() == 1 ? "" : "es");
  } else if (results.empty()) {
    std::fprintf(stderr, "No moments found for '%s'.\n", query.c_str());
  }
  for (const auto& result : results) {
    // Score, probability, the day it was taken, then the path (with the time code for a
    // video), as copied.
    std::string where = printable(location(result.file).string());
    if (result.file.kind == MediaKind::video) where += " " + timecode(result.time);
    const std::string day = result.file.captureTime().iso().substr(0, 10);
    std::printf("%.4f  %3.0f%%  %s  %s\n", result.score, result.probability * 100.0, day.c_str(),
                where.c_str());
  }
}

int Commands::searchAndPrint(const std::string& query, std::span<const float> vector,
                             const Options& options) {
  SearchEngine engine(*library_, *embedder_);
  const SearchFilter filter = this->filter(options);
  auto results = engine.search(vector, filter, options.limit.value_or(defaultLimit)).results;
  if (options.exact && !results.empty()) {
    results = engine.refineAll(std::move(results), vector);
    SearchEngine::inOrder(results, filter.order);
  }
  print(query, results, options);
  return 0;
}

int Commands::search(const Options& options) {
  std::string query;
  for (const auto& word : options.operands) query += (query.empty() ? "" : " ") + word;
  filter(options);  // its mistakes are told before anything is embedded
  std::vector<float> vector;
  try {
    vector = SearchEngine(*library_, *embedder_).queryVector(query);
  } catch (const QueryTerms::Failure& failure) {
    throw Error(failure.what(), 2);
  }
  if (vector.empty()) {
    print(query, {}, options);
    return 0;
  }
  return searchAndPrint(query, vector, options);
}

int Commands::similar(const Options& options) {
  if (options.operands.size() != 1) throw Error("similar takes one PHOTO or FILE@SECONDS", 2);
  const auto& operand = options.operands.front();
  std::filesystem::path path = operand;
  std::optional<double> seconds;
  std::error_code error;
  const auto at = operand.rfind('@');
  if (!std::filesystem::exists(path, error) && at != std::string::npos) {
    seconds = parseSeconds(operand.substr(at + 1));
    if (!seconds) throw Error("'" + operand + "': the time after @ must be seconds, like 12.5", 2);
    path = operand.substr(0, at);
  }
  if (!std::filesystem::is_regular_file(path, error))
    throw Error("File not found: " + path.string());
  filter(options);  // a wrong folder is told before the file is read
  MoreLikeThis::ImageQuery like;
  try {
    like = options.region ? MoreLikeThis::region(*embedder_, path, seconds, *options.region)
                          : MoreLikeThis::file(*library_, *embedder_, path, seconds);
  } catch (const MoreLikeThis::TooSmall& failure) {
    throw Error("--region: " + std::string(failure.what()), 2);
  } catch (const MoreLikeThis::Unreadable& failure) {
    throw Error(failure.what());
  }
  if (like.vector.empty()) {
    print(operand, {}, options);
    return 0;
  }
  std::vector<QueryTerms::Term> terms;
  std::vector<float> combined;
  try {
    for (const auto* texts : {&options.plus, &options.minus}) {
      const float sign = texts == &options.minus ? -1.0f : 1.0f;
      for (const std::string& text : *texts) {
        for (QueryTerms::Term term : QueryTerms::parse(SearchEngine::queryText(text))) {
          term.weight *= sign;
          terms.push_back(std::move(term));
        }
      }
    }
    combined = SearchEngine(*library_, *embedder_)
                   .queryVector(std::span<const QueryTerms::Term>(terms), like.vector);
  } catch (const QueryTerms::Failure& failure) {
    throw Error(failure.what(), 2);
  }
  return searchAndPrint(operand, combined, options);
}

int Commands::duplicates(const Options& options) {
  const float threshold = options.near ? DuplicateFinder::near : DuplicateFinder::exact;
  const auto groups = DuplicateFinder::find(*library_, threshold);
  if (options.json) {
    auto list = nlohmann::json::array();
    for (const auto& group : groups) {
      auto files = nlohmann::json::array();
      for (std::size_t i = 0; i < group.files.size(); ++i) {
        nlohmann::json entry = {
            {"keep", i == 0}, {"size", group.files[i].size}, {"file_id", group.files[i].id}};
        putPath(entry, "path", location(group.files[i]).string());
        files.push_back(std::move(entry));
      }
      list.push_back(
          {{"similarity", group.similarity}, {"exact", group.isExact()}, {"files", files}});
    }
    const nlohmann::json document = {{"threshold", threshold}, {"groups", list}};
    std::printf("%s\n",
                document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return 0;
  }
  if (groups.empty()) std::printf("No duplicate photos found.\n");
  int number = 0;
  for (const auto& group : groups) {
    std::printf("Group %d: %zu photos, similarity %.3f (%s)\n", ++number, group.files.size(),
                group.similarity, group.isExact() ? "same picture" : "near-duplicates");
    for (std::size_t i = 0; i < group.files.size(); ++i) {
      std::printf("  %s %s\n", i == 0 ? "keep" : "    ",
                  printable(location(group.files[i]).string()).c_str());
    }
  }
  return 0;
}

int Commands::exportMarkers(const Options& options) {
  std::string query;
  for (const auto& word : options.operands) query += (query.empty() ? "" : " ") + word;
  const std::filesystem::path output = *options.output;
  auto extension = output.extension().string();
  for (auto& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension != ".csv" && extension != ".fcpxml") {
    throw Error("export writes FILE.fcpxml or FILE.csv, not '" + output.string() + "'", 2);
  }
  auto videoOptions = options;
  videoOptions.videos = true;
  videoOptions.photos = false;
  SearchEngine engine(*library_, *embedder_);
  std::vector<SearchResult> results;
  try {
    results = engine.search(query, filter(videoOptions), exportLimit).results;
    if (options.exact && !results.empty()) {
      results = engine.refineAll(std::move(results), engine.queryVector(query));
    }
  } catch (const QueryTerms::Failure& failure) {
    throw Error(failure.what(), 2);
  }
  std::vector<ExportPlan::Item> items;
  const MountTable drives;
  for (const auto& result : results) {
    const auto root = library_->root(result.file.rootID);
    const bool reachable = root && isOnline(*root, drives);
    items.push_back({result.file.kind,
                     reachable ? std::optional(location(result.file)) : std::nullopt, result.time,
                     result.score});
  }
  const ExportPlan plan(SearchEngine::queryText(query), items);
  if (plan.empty()) throw Error(Words::nothingToExport());
  const auto document = plan.document(ExportPlan::format(output));
  writeAtomically(output, document.text);
  std::printf("%s\n",
              Words::exported(document.count, printable(output.filename().string())).c_str());
  return 0;
}

int Commands::status(const Options& options) {
  const auto totals = library_->totals();
  const auto folders = library_->roots().size();
  if (options.json) {
    const auto& stored = library_->storedModelSignature();
    const nlohmann::json storedModel = stored ? nlohmann::json(*stored) : nlohmann::json();
    nlohmann::json document = {{"folders", folders},
                               {"files", totals.files},
                               {"photos", totals.photos},
                               {"videos", totals.videos},
                               {"indexed", totals.indexed},
                               {"pending", totals.pending},
                               {"failed", totals.failed},
                               {"bytes", totals.bytes},
                               {"indexed_bytes", totals.indexedBytes},
                               {"pending_bytes", totals.pendingBytes},
                               {"indexed_video_seconds", totals.indexedVideoSeconds},
                               {"frames", totals.frames},
                               {"model", library_->modelSignature()},
                               {"library_model", storedModel},
                               {"model_matches", library_->modelMatches()}};
    putPath(document, "library", libraryURL_.string());
    std::printf("%s\n",
                document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return 0;
  }
  std::printf("Library: %s\n", printable(libraryURL_.string()).c_str());
  std::printf("Model: %s\n", printable(library_->modelSignature()).c_str());
  if (!library_->modelMatches()) {
    std::printf("Indexed with another model: %s. 'quillmere-cli index' indexes every file again.\n",
                printable(library_->storedModelSignature().value_or("?")).c_str());
  }
  std::printf("Folders: %zu\n", folders);
  std::printf("Files: %lld (%s, %s), %s\n", static_cast<long long>(totals.files),
              counted(totals.photos, "photo").c_str(), counted(totals.videos, "video").c_str(),
              ProgressBar::bytes(totals.bytes).c_str());
  std::printf(
      "Indexed: %lld (%s), pending: %lld (%s), failed: %lld\n",
      static_cast<long long>(totals.indexed), ProgressBar::bytes(totals.indexedBytes).c_str(),
      static_cast<long long>(totals.pending), ProgressBar::bytes(totals.pendingBytes).c_str(),
      static_cast<long long>(totals.failed));
  std::printf("Frames: %lld, video indexed: %s\n", static_cast<long long>(totals.frames),
              timecode(totals.indexedVideoSeconds).c_str());
  return 0;
}

int Commands::failed(const Options&) {
  int count = 0;
  for (const auto& file : library_->allFiles()) {
    if (file.state != FileState::failed) continue;
    std::printf("%s: %s\n", printable(location(file).string()).c_str(),
                printable(file.error.value_or("failed")).c_str());
    ++count;
  }
  if (count == 0) std::printf("No failed files.\n");
  return 0;
}

int Commands::retry(const Options&) {
  const auto before = library_->totals().failed;
  library_->retryFailed();
  std::printf("%lld failed file%s pending again. Run 'quillmere-cli index' to index them.\n",
              static_cast<long long>(before), before == 1 ? " is" : "s are");
  return 0;
}

int Commands::tokenize(const Options& options) {
  const auto directory = Embedder::defaultDirectory();
  if (!directory || !std::filesystem::is_directory(*directory)) {
    throw Error(
        "No search model found. Set QUILLMERE_MODEL_DIR to a model directory (one holding "
        "model.json), or reinstall Quillmere.");
  }
  std::unique_ptr<BPETokenizer> tokenizer;
  try {
    Embedder embedder(*directory);
    const auto& info = embedder.info();
    tokenizer = std::make_unique<BPETokenizer>(*directory / "tokenizer.bin", info.contextLength,
                                               info.padId, info.eosId, info.lowercase);
  } catch (const std::exception& failure) {
    throw Error(std::string("Cannot load the tokenizer: ") + failure.what() + " (model directory " +
                directory->string() + ")");
  }
  std::string line;
  auto emit = [&](const std::string& text) {
    line.clear();
    for (const auto id : tokenizer->tokens(text)) {
      if (!line.empty()) line += ' ';
      line += std::to_string(id);
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
  };
  if (!options.operands.empty()) {
    for (const auto& text : options.operands) emit(text);
    return 0;
  }
  std::string query;
  while (std::getline(std::cin, query)) {
    if (!query.empty() && query.back() == '\r') query.pop_back();
    emit(query);
  }
  return 0;
}

int Commands::model(const Options& options) {
  // The model command's own flags come among its operands.
  std::vector<std::string> operands;
  bool use = false;
  bool available = false;
  std::string variant;
  for (std::size_t i = 0; i < options.operands.size(); ++i) {
    const auto& arg = options.operands[i];
    if (arg == "--use") {
      use = true;
    } else if (arg == "--available") {
      available = true;
    } else if (arg == "--variant") {
      if (i + 1 == options.operands.size()) throw Error("--variant needs a value", 2);
      variant = options.operands[++i];
    } else {
      operands.push_back(arg);
    }
  }
  const std::string verb = operands.empty() ? "" : operands[0];
  const bool flags = use || available || !variant.empty();
  if (operands.empty() && !flags) return showModel();
  if (verb == "import" && (operands.size() == 2 || operands.size() == 3) && !use && !available) {
    return importModel(operands[1], operands.size() == 3 ? operands[2] : std::string(), variant);
  }
  if (verb == "use" && operands.size() == 2 && !flags) return useModel(operands[1]);
  if (verb == "list" && operands.size() == 1 && !use && variant.empty()) {
    return listModels(available);
  }
  if (verb == "download" && operands.size() == 2 && !available) {
    return downloadModel(operands[1], use, variant);
  }
  if (verb == "discard" && operands.size() == 2 && !use && !available) {
    return discardDownload(operands[1], variant);
  }
  throw Error(
      "usage: quillmere-cli model [import SOURCE [DEST] [--variant NAME] | "
      "use NAME|DIR|default | list [--available] | "
      "download ID|OWNER/NAME [--use] [--variant NAME] | discard ID|OWNER/NAME [--variant NAME]]",
      2);
}

int Commands::showModel() {
  const auto directory = Embedder::defaultDirectory();
  if (!directory) throw Error("No search model found. Reinstall Quillmere.");
  std::string found = "the built-in demo model";
  if (std::getenv("QUILLMERE_MODEL_DIR")) {
    found = "QUILLMERE_MODEL_DIR";
  } else if (ModelChoice::chosen()) {
    found = "chosen with 'quillmere-cli model use' (" + ModelChoice::settingFile().string() + ")";
  }
  try {
    Embedder embedder(*directory);
    const auto& info = embedder.info();
    std::printf("Model: %s (%s)\nDirectory: %s\nFound: %s\nVectors: %lld components\n",
                printable(info.signature()).c_str(), printable(info.kind).c_str(),
                printable(directory->string()).c_str(), found.c_str(),
                static_cast<long long>(info.dim));
    if (!info.variant.empty()) std::printf("Variant: %s\n", printable(info.variant).c_str());
  } catch (const std::exception& failure) {
    throw Error(std::string(failure.what()) + " (model directory " + directory->string() +
                ", found through " + found + ")");
  }
  return 0;
}

int Commands::importModel(const std::string& source, const std::string& destination,
                          const std::string& variant) {
  catchInterrupts();
  try {
    ModelImport import(source, variant, ImportStop([] { return interrupted != 0; }));
    // A relative destination is taken from here, and named in full so that 'model use' finds
    // it from anywhere.
    const auto target = destination.empty()
                            ? import.defaultDestination()
                            : std::filesystem::absolute(destination).lexically_normal();
    import.write(target);
    for (const auto& note : import.notes()) {
      std::fprintf(stderr, "quillmere-cli: note: %s\n", note.c_str());
    }
    std::printf("Imported %s into %s. Choose it with 'quillmere-cli model use %s'.\n",
                printable(import.info().signature()).c_str(), printable(target.string()).c_str(),
                printable(destination.empty() ? import.name() : target.string()).c_str());
  } catch (const ModelImport::Refusal& refusal) {
    throw Error(std::string("Cannot import ") + source + ": " + refusal.what());
  } catch (const ImportStop::Stopped&) {
    throw Error("Stopped: " + source + " was not imported, and nothing of it was kept.", 130);
  }
  return 0;
}

namespace {

// "owner/name" or "owner/name (variant)".
std::string exportName(const std::string& repository, const std::string& variant) {
  return variant.empty() ? repository : repository + " (" + variant + ")";
}

struct NamedExport {
  std::string repository;
  std::string variant;
};

// The export a catalogue id or a repository of the hub names, with the variant asked for.
NamedExport namedExport(const std::string& wanted, const std::string& variant) {
  const auto catalogue = ModelCatalogue::installed();
  const auto* entry = catalogue.find(wanted);
  if (!entry && !ModelDownload::isRepository(wanted)) {
    throw Commands::Error("'" + wanted + "' is not in the list of models (" + catalogue.ids() +
                              ") nor a repository of the hub (owner/name).",
                          2);
  }
  if (entry && !entry->variant.empty() && !variant.empty() && variant != entry->variant) {
    throw Commands::Error(
        "'" + wanted + "' is the " + entry->variant + " variant; leave out --variant.", 2);
  }
  if (!entry) return {wanted, variant};
  return {entry->repository, variant.empty() ? entry->variant : variant};
}

}  // namespace

int Commands::listModels(bool available) {
  const auto models = ModelChoice::modelsDirectory();
  const auto chosen = ModelChoice::chosen();
  std::error_code error;
  const auto catalogue = ModelCatalogue::installed();
  if (available) {
    for (const auto& entry : catalogue.entries()) {
      const bool here = std::filesystem::exists(models / entry.folder(), error);
      std::string speed;
      if (!entry.variant.empty() && entry.speedup > 0) {
        char text[48];
        std::snprintf(text, sizeof text, "  %.1fx the full model's speed", entry.speedup);
        speed = text;
      }
      std::printf("%-26s %-28s %5llu MB  %-15s ImageNet %.1f %%%s%s\n", entry.id.c_str(),
                  entry.name.c_str(), static_cast<unsigned long long>(entry.megabytes),
                  entry.languages.c_str(), entry.quality, speed.c_str(),
                  here ? "  (downloaded)" : "");
    }
    std::printf("Download one with 'quillmere-cli model download ID'.\n");
    return 0;
  }
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(models, error)) {
    const auto name = item.path().filename().string();
    if (item.is_directory(error) && name.front() != '.') names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  for (const auto& name : names) {
    const bool inUse = chosen && chosen->lexically_normal() == (models / name).lexically_normal();
    std::printf("%s%s\n", printable(name).c_str(), inUse ? "  (in use)" : "");
  }
  if (names.empty())
    std::printf("No model is downloaded or imported into %s.\n",
                printable(models.string()).c_str());
  for (const auto& partial : DownloadStaging::partials(models)) {
    const auto named = exportName(partial.repository, partial.variant);
    const auto asked =
        partial.repository + (partial.variant.empty() ? "" : " --variant " + partial.variant);
    std::printf(
        "Partly downloaded: %s, %s in %s. 'quillmere-cli model download %s' goes on, "
        "'quillmere-cli model discard %s' removes it.\n",
        named.c_str(), ProgressBar::bytes(static_cast<std::int64_t>(partial.bytes)).c_str(),
        printable(partial.folder.string()).c_str(), asked.c_str(), asked.c_str());
  }
  return 0;
}

int Commands::discardDownload(const std::string& wanted, const std::string& variant) {
  const auto [repository, taken] = namedExport(wanted, variant);
  const auto models = ModelChoice::modelsDirectory();
  std::uint64_t bytes = 0;
  for (const auto& partial : DownloadStaging::partials(models)) {
    if (partial.repository == repository && partial.variant == taken) bytes = partial.bytes;
  }
  try {
    if (!DownloadStaging::remove(models, repository, taken)) {
      throw Error("Nothing of " + exportName(repository, taken) + " is partly downloaded in " +
                  models.string() + ".");
    }
  } catch (const DownloadStaging::Busy& busy) {
    throw Error(busy.what());
  }
  std::printf("Removed the partial download of %s (%s).\n", exportName(repository, taken).c_str(),
              ProgressBar::bytes(static_cast<std::int64_t>(bytes)).c_str());
  return 0;
}

int Commands::downloadModel(const std::string& wanted, bool use, const std::string& variant) {
  const auto named = namedExport(wanted, variant);
  const auto models = ModelChoice::modelsDirectory();
  try {
    ModelDownload download(named.repository, ModelDownload::hubEndpoint(), named.variant);
    std::error_code error;
    if (std::filesystem::exists(download.destination(models), error)) {
      std::printf("%s is already in %s.\n", download.name().c_str(),
                  printable(download.destination(models).string()).c_str());
      return use ? useModel(download.name()) : 0;
    }
    const auto total = download.totalBytes();
    std::printf("Downloading %s (%s) from %s\n", download.name().c_str(),
                ProgressBar::bytes(static_cast<std::int64_t>(total)).c_str(),
                ModelDownload::hubEndpoint().c_str());
    std::fflush(stdout);
    catchInterrupts();
    ProgressBar bar(stdout, ::isatty(STDOUT_FILENO) == 1);
    const auto start = std::chrono::steady_clock::now();
    std::optional<std::uint64_t> first;
    std::uint64_t shown = 0;
    const auto report = [&](std::uint64_t done, std::uint64_t all) {
      if (interrupted) return false;
      if (done == shown && done > 0) return true;  // asked again while the files are checked
      shown = done;
      if (!first) first = done;
      const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
      const double rate = spent.count() > 0.5 ? double(done - *first) / spent.count() : 0.0;
      bar.showTransfer(done, all, rate);
      return true;
    };
    std::filesystem::path directory;
    try {
      directory = download.run(models, report);
    } catch (...) {
      bar.finish();
      throw;
    }
    bar.finish();
    for (const auto& note : download.notes()) {
      std::fprintf(stderr, "quillmere-cli: note: %s\n", note.c_str());
    }
    std::printf("Downloaded %s into %s.\n", download.name().c_str(),
                printable(directory.string()).c_str());
    if (use) return useModel(download.name());
    std::printf("Choose it with 'quillmere-cli model use %s'.\n", download.name().c_str());
  } catch (const ModelDownload::Failure& failure) {
    throw Error(failure.what());
  } catch (const ModelImport::Refusal& refusal) {
    throw Error("Cannot import " + wanted + ": " + refusal.what());
  }
  return 0;
}

int Commands::useModel(const std::string& nameOrDirectory) {
  if (nameOrDirectory == "default") {
    ModelChoice::forget();
    std::printf("The built-in model is used again (unless QUILLMERE_MODEL_DIR is set).\n");
    return 0;
  }
  // A downloaded model is found by its id in the list too.
  const auto catalogue = ModelCatalogue::installed();
  const auto* entry = catalogue.find(nameOrDirectory);
  const auto directory = ModelChoice::resolve(entry ? entry->folder() : nameOrDirectory);
  std::string signature;
  try {
    signature = Embedder(directory).info().signature();
  } catch (const std::exception& failure) {
    throw Error("Cannot use " + directory.string() + ": " + failure.what() +
                " Import a model first with 'quillmere-cli model import SOURCE'.");
  }
  try {
    ModelChoice::choose(directory);
  } catch (const std::exception& failure) {
    throw Error("Cannot store the choice in " + ModelChoice::settingFile().string() + ": " +
                failure.what());
  }
  std::printf(
      "The search model is now %s (%s). 'quillmere-cli index' indexes the library "
      "again with it.\n",
      printable(signature).c_str(), printable(directory.string()).c_str());
  return 0;
}

}  // namespace quillmere
