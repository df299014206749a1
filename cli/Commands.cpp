// SPDX-License-Identifier: GPL-3.0-or-later
// The quillmere-cli command table, and opening the engine for the command that runs.
#include "Commands.h"

#include <cstdio>
#include <string>

#include "Interrupts.h"
#include "core/StandardPath.h"
#include "engine/EngineOpening.h"
#include "index/FolderRules.h"
#include "index/Library.h"
#include "model/Embedder.h"

namespace quillmere {

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
       .run = &runWith<Options, &Commands::add>},
      {.name = "remove",
       .synopsis = "remove FOLDER...         forget folders (the files stay on disk)",
       .access = A::writes,
       .leastOperands = 1,
       .wanted = "at least one FOLDER",
       .run = &runWith<Options, &Commands::remove>},
      {.name = "folders",
       .synopsis = "folders                  the folders with their counts",
       .access = A::reads,
       .mostOperands = 0,
       .run = &runWith<Options, &Commands::folders>},
      {.name = "index",
       .synopsis = "index [--watch] [--no-text] [--no-faces]\n"
                   "    bring the library up to date; --watch: keep watching, --no-text: read no\n"
                   "    text in pictures (what was read stays), --no-faces: find no faces (the\n"
                   "    faces found stay)",
       .options = {"--watch", "--no-text", "--no-faces"},
       .access = A::indexes,
       .mostOperands = 0,
       .run = &runWith<IndexOptions, &Commands::index>},
      {.name = "search",
       .synopsis =
           "search TEXT [--photos|--videos] [--folder FOLDER] [--limit N] [--exact] [--json]\n"
           "           [--after DATE] [--before DATE] [--order best|newest|oldest]\n"
           "           [--min-probability P] [--person ID|NAME]...\n"
           "    DATE is 2024-06-01 or 2024-06, in local time: --after takes moments from its\n"
           "    start on, --before those before its start. P is 0-1 or a percentage (10%).\n"
           "    TEXT may add and take away terms: 'beach + sunset - people', '2:golden "
           "retriever'.\n"
           "    --person keeps the moments where every person named appears.",
       .options = {"--photos", "--videos", "--folder", "--limit", "--exact", "--json", "--after",
                   "--before", "--order", "--min-probability", "--person"},
       .access = A::reads,
       .leastOperands = 1,
       .wanted = "a TEXT to search for",
       .needsVectors = true,
       .run = &runWith<SearchOptions, &Commands::search>},
      {.name = "similar",
       .synopsis = "similar PHOTO|FILE@SECONDS [--region X,Y,W,H] [--plus TEXT] [--minus TEXT]\n"
                   "           | --face FACE (the moments of that face's person, by its vector)\n"
                   "           [same options as search]\n"
                   "    X,Y,W,H is a part of the picture in fractions of its width and height\n"
                   "    (0-1): '0.5,0,0.5,0.5' is the top right quarter.",
       .options = {"--photos", "--videos", "--folder", "--limit", "--exact", "--json", "--after",
                   "--before", "--order", "--min-probability", "--plus", "--minus", "--region",
                   "--person", "--face"},
       .access = A::reads,
       .wanted = "a PHOTO or FILE@SECONDS",
       .needsVectors = true,
       .run = &runWith<SearchOptions, &Commands::similar>},
      {.name = "text",
       .synopsis = "text FILE[@SECONDS] [--json]\n"
                   "    the text read in a photo, or in a video's frames (the one nearest SECONDS)",
       .options = {"--json"},
       .access = A::reads,
       .leastOperands = 1,
       .mostOperands = 1,
       .wanted = "a FILE or FILE@SECONDS",
       .run = &runWith<Options, &Commands::text>},
      {.name = "duplicates",
       .synopsis = "duplicates [--near] [--json]",
       .options = {"--near", "--json"},
       .access = A::reads,
       .mostOperands = 0,
       .needsVectors = true,
       .run = &runWith<DuplicatesOptions, &Commands::duplicates>},
      {.name = "export",
       .synopsis = "export TEXT -o FILE.fcpxml|FILE.csv [--folder FOLDER] [--exact]",
       .options = {"-o", "--output", "--folder", "--exact"},
       .access = A::reads,
       .leastOperands = 1,
       .wanted = "a TEXT to search for",
       .needsOutput = true,
       .needsVectors = true,
       .run = &runWith<SearchOptions, &Commands::exportMarkers>},
      {.name = "people",
       .synopsis = "people [--json] | show ID | name ID NAME | merge ID ID | move FACE ID |\n"
                   "        not FACE | hide ID | unhide ID | regroup | forget [--yes]\n"
                   "    the people found in the faces of pictures (named first, with their faces\n"
                   "    and moments); show lists a person's moments with the number of each face;\n"
                   "    merge keeps the first; not FACE: that face is not its person; forget\n"
                   "    removes every face and person, names included (asks unless --yes)",
       .options = {"--yes", "--json"},
       .access = A::none,
       .run = &runWith<PeopleOptions, &Commands::people>},
      {.name = "status",
       .synopsis = "status [--json]          the library's totals",
       .options = {"--json"},
       .access = A::reads,
       .mostOperands = 0,
       .run = &runWith<Options, &Commands::status>},
      {.name = "failed",
       .synopsis = "failed                   the files that could not be indexed, with the reason",
       .access = A::reads,
       .mostOperands = 0,
       .run = &runWith<Options, &Commands::failed>},
      {.name = "retry",
       .synopsis = "retry                    make failed files pending again",
       .access = A::writes,
       .mostOperands = 0,
       .run = &runWith<Options, &Commands::retry>},
      {.name = "model",
       .synopsis = "model [import SOURCE [DEST] [--variant NAME] | use NAME|DIR|default |\n"
                   "        list [--available] | download ID|OWNER/NAME [--use] [--variant "
                   "NAME] |\n"
                   "        discard ID|OWNER/NAME [--variant NAME]]\n"
                   "                           the search model",
       .access = A::none,
       .run = &runWith<Options, &Commands::model>},
      {.name = "tokenize",
       .synopsis = "tokenize [TEXT...]       token ids of each query (one query a line from stdin)",
       .access = A::none,
       .run = &runWith<Options, &Commands::tokenize>},
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

void Commands::checkOperands(const Command& command, const std::vector<std::string>& operands,
                             bool output) {
  const std::string name(command.name);
  const auto count = operands.size();
  if (command.mostOperands == 0u && count > 0) {
    throw Error(name + " takes no argument '" + operands.front() + "'", 2);
  }
  if (count < command.leastOperands) {
    throw Error(name + " needs " + std::string(command.wanted), 2);
  }
  if (command.needsOutput && !output) {
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
  return command.run(*this, command, {args.begin() + 1, args.end()});
}

void Commands::start(const Command& command, const std::vector<std::string>& operands,
                     bool output) {
  checkOperands(command, operands, output);
  if (command.access == Access::indexes) catchInterrupts();
  if (command.access != Access::none) openEngine(command);
}

void Commands::openEngine(const Command& command) {
  libraryPath_ = Library::defaultPath();
  const bool reads = command.access == Access::reads;
  // A library of an older schema is upgraded once, on this opening: a large one takes a while.
  const auto upgrading = [](double fraction) {
    std::fprintf(stderr, "\rUpgrading the library: %3d%%", static_cast<int>(fraction * 100));
    if (fraction >= 1) std::fprintf(stderr, "\n");
  };
  const EngineOpening::Request request{.library = libraryPath_,
                                       .access = reads ? EngineOpening::Access::reads
                                                 : command.access == Access::indexes
                                                     ? EngineOpening::Access::indexes
                                                     : EngineOpening::Access::writes,
                                       .onUpgrade = upgrading};
  OpenedEngine engine;
  const auto result = EngineOpening::open(request, engine);
  modelDirectory_ = engine.modelDirectory;
  if (result.outcome == EngineOpening::Outcome::failed) throw Error(failureText(result, reads));
  embedder_ = std::move(engine.embedder);
  lock_ = std::move(engine.lock);
  library_ = std::move(engine.library);
  if (result.outcome != EngineOpening::Outcome::otherModel) return;
  if (command.needsVectors) throw Error(modelMismatch(result));
  std::fprintf(stderr, "quillmere-cli: %s\n", modelMismatch(result).c_str());
}

std::string Commands::failureText(const EngineOpening::Result& result, bool reads) const {
  using F = EngineOpening::Failure;
  const std::string model = modelDirectory_.string();
  const std::string library = libraryPath_.string();
  switch (result.failure) {
    case F::noModel:
      return "No search model found. Set QUILLMERE_MODEL_DIR to a model directory (one holding "
             "model.json), or reinstall Quillmere.";
    case F::modelDirectoryGone:
      return "The model directory " + model +
             " does not exist. Set QUILLMERE_MODEL_DIR to a model directory (one holding "
             "model.json), or reinstall Quillmere.";
    case F::modelUnreadable:
      return result.detail + " (model directory " + model + ")";
    case F::noLibrary:
      return "There is no library at " + library +
             ". Add a folder with 'quillmere-cli add FOLDER' first, or set "
             "QUILLMERE_LIBRARY to your library file.";
    case F::busy:
      return "The library " + library +
             " is in use by another Quillmere process (the app or an indexing "
             "quillmere-cli). Quit it, or wait until it is done, and try again.";
    case F::lockFailed:
      return "Cannot lock the library " + library + ": " + result.detail +
             ". Check the permissions of its folder, or set QUILLMERE_LIBRARY to another "
             "file.";
    case F::newerLibrary:
    case F::libraryUnreadable:
    case F::none:
      break;
  }
  const std::string detail = result.failure == F::newerLibrary
                                 ? "This library was made by a newer version of Quillmere."
                                 : result.detail;
  return "Cannot open the library " + library + " (" + detail +
         "). Check that it is a Quillmere library you may " + (reads ? "read" : "read and write") +
         ", or set QUILLMERE_LIBRARY to another file.";
}

std::string Commands::modelMismatch(const EngineOpening::Result& result) const {
  const auto stored = result.libraryModel.value_or("?");
  const auto& set = result.model;
  return "The library was indexed with the model " + stored + ", but the model set is " + set +
         " (" + modelDirectory_.string() + "). Set QUILLMERE_MODEL_DIR to the directory of " +
         stored + ", or run 'quillmere-cli index' to index every file again with " + set + ".";
}

std::filesystem::path Commands::location(const MediaFile& file) const {
  const auto filePath = library_->filePath(file);
  return filePath ? filePath->lexically_normal() : std::filesystem::path(file.relPath);
}

std::optional<Root> Commands::findRoot(const Library& library, const std::string& folder) {
  const auto key = standardPath(folder);
  for (const auto& root : library.roots()) {
    if (standardPath(root.path) == key) return root;
  }
  return std::nullopt;
}

bool Commands::isOnline(const Root& root, const MountTable& drives) {
  return FolderRules::reachablePath(root, drives).has_value();
}

}  // namespace quillmere
