// SPDX-License-Identifier: GPL-3.0-or-later
// Fetches a published export from the model hub and imports it. The hub's file list gives
// each file's size and checksum; only the files the import reads are fetched, into
// <models>/.downloads/<owner>/<name>[@<variant>] (see DownloadStaging), where an interrupted
// download is resumed from. Every file is checked before the import, which writes
// <models>/<name> whole or not at all; a refused import removes the files with it.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "catalogue/ModelImport.h"

namespace quillmere {

class DownloadStaging;
class HttpClient;

class ModelDownload {
 public:
  // What went wrong, as a reason with its data that the front ends word; the model folder
  // and the library are unchanged. what() is the error underneath, when there is one.
  class Failure : public std::runtime_error {
   public:
    enum class Reason {
      notRepository,    // repository: what was given instead of owner/name
      notVariant,       // variant: what was given
      endpointRefused,  // host: the whole address given
      noSuchModel,      // host, repository
      unreadableList,   // host, detail
      notAnExport,      // repository
      variantOfImmich,  // repository: an Immich export asked for with a variant
      lacksFile,        // repository, file
      impossibleSize,   // host, file, repository, detail: the size as listed
      exists,           // path: the model folder, repository
      busy,             // repository, variant: another download of it runs
      cannotWrite,      // path: the staging folder, detail
      noRoom,           // path: the models folder, repository, bytes needed, free bytes
      oversized,        // host, bytes: the size listed, file, repository
      corrupt,          // file, repository
      stopped,          // the caller stopped it; what arrived is kept
      unreachable,      // host, detail
      notFound,         // host, file (empty: the list of files), repository
      refused,          // host, file (as for notFound), status
      stalled,          // host, file (as for notFound), detail
      cannotStore,      // file (as for notFound), path: the file written, detail
      brokeOff,         // file (as for notFound), host, detail
    };
    struct Data {
      std::string repository;
      std::string variant;
      std::string host;
      std::string file;  // a file of the export, relative
      std::string path;  // a folder or file on this computer
      std::string detail;
      std::uint64_t bytes = 0;
      std::uint64_t free = 0;
      long status = 0;
    };
    Failure(Reason reason, Data data);
    Reason reason() const { return reason_; }
    const Data& data() const { return data_; }

   private:
    Reason reason_;
    Data data_;
  };

  struct File {
    std::string path;  // relative, with '/'
    std::uint64_t size = 0;
    std::string sha256;  // large files: the hub's object id
    std::string gitOid;  // small files: the git blob id (SHA-1 of "blob <size>\0" + bytes)
  };

  // `repository` is "owner/name"; the hub is at `endpoint` (see hubEndpoint()); `variant`
  // picks encoders published beside the float32 ones (see ModelImport).
  ModelDownload(std::string repository, std::string endpoint, std::string variant = {},
                std::chrono::seconds stallTime = std::chrono::seconds(30));
  ~ModelDownload();

  // $HF_ENDPOINT when set (as the hub's own tools read it), else https://huggingface.co.
  static std::string hubEndpoint();
  // `endpoint` with its scheme in lower case when it is https://, or http:// to the loopback
  // address. Throws Failure for any other.
  static std::string checkedEndpoint(const std::string& endpoint);
  // Whether `text` has the form owner/name of a hub repository.
  static bool isRepository(const std::string& text);
  // The name part of owner/name: what a download's folder is called.
  static std::string nameOf(const std::string& repository);

  // The model's name once imported: the repository's, with _<variant> for a variant.
  std::string name() const { return variant_.empty() ? name_ : name_ + "_" + variant_; }
  // Asks the hub for the export's files and keeps those the import reads. Throws Failure.
  const std::vector<File>& files();
  std::uint64_t totalBytes();

  // Told bytes done of all files and the whole, also while they are checked and imported;
  // false stops the download (kept for later).
  using Progress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

  // Where run() puts the model: <models>/<name>.
  std::filesystem::path destination(const std::filesystem::path& models) const;
  // Downloads what is missing, checks and imports. Throws Failure, or ModelImport::Refusal
  // when the files arrived whole but are not an export the program reads.
  std::filesystem::path run(const std::filesystem::path& models, const Progress& progress);
  // Remarks of the import (see ModelImport::notes).
  const std::vector<ModelImport::Note>& notes() const { return notes_; }

 private:
  std::string host() const;
  std::string url(const std::string& relative) const;
  void readListing(const std::string& body);
  std::uint64_t sizeIn(const nlohmann::json& entry, const std::string& path,
                       std::uint64_t otherwise) const;
  void checkRoom(const std::filesystem::path& models, const std::filesystem::path& staging);
  void fetch(const File& file, DownloadStaging& staging, std::uint64_t before,
             const Progress& progress);
  // `file` empty: the list of files.
  [[noreturn]] void fail(const std::exception& failure, const std::string& file) const;
  Failure::Data about(std::string file = {}) const;

  std::string repository_;
  std::string endpoint_;
  std::string variant_;
  std::string name_;
  std::unique_ptr<HttpClient> http_;
  bool listed_ = false;
  std::vector<File> files_;
  ModelImport::Layout layout_ = ModelImport::Layout::immich;
  std::vector<ModelImport::Note> notes_;
};

}  // namespace quillmere
