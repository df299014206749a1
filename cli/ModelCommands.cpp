// SPDX-License-Identifier: GPL-3.0-or-later
// model and tokenize: the search model, its import, download and choice.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "Commands.h"
#include "Interrupts.h"
#include "ModelWords.h"
#include "Output.h"
#include "ProgressBar.h"
#include "catalogue/DownloadStaging.h"
#include "catalogue/ModelCatalogue.h"
#include "catalogue/ModelDownload.h"
#include "catalogue/ModelImport.h"
#include "model/BPETokenizer.h"
#include "model/Embedder.h"
#include "model/ModelChoice.h"

namespace quillmere {

using Output::printable;

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
      std::fprintf(stderr, "quillmere-cli: note: %s\n", ModelWords::note(note).c_str());
    }
    std::printf("Imported %s into %s. Choose it with 'quillmere-cli model use %s'.\n",
                printable(import.info().signature()).c_str(), printable(target.string()).c_str(),
                printable(destination.empty() ? import.name() : target.string()).c_str());
  } catch (const ModelImport::Refusal& refusal) {
    throw Error("Cannot import " + source + ": " + ModelWords::refusal(refusal));
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
      const bool here = ModelChoice::holdsModel(models / entry.folder());
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
    throw Error(ModelWords::busy(busy.repository(), busy.variant()));
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
    if (ModelChoice::holdsModel(download.destination(models))) {
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
      std::fprintf(stderr, "quillmere-cli: note: %s\n", ModelWords::note(note).c_str());
    }
    std::printf("Downloaded %s into %s.\n", download.name().c_str(),
                printable(directory.string()).c_str());
    if (use) return useModel(download.name());
    std::printf("Choose it with 'quillmere-cli model use %s'.\n", download.name().c_str());
  } catch (const ModelDownload::Failure& failure) {
    throw Error(ModelWords::failure(failure));
  } catch (const ModelImport::Refusal& refusal) {
    throw Error("Cannot import " + wanted + ": " + ModelWords::refusal(refusal));
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
