// SPDX-License-Identifier: GPL-3.0-or-later
// The hub's interface: GET {endpoint}/api/models/{repo}/tree/main?recursive=true lists the
// files (path, size, oid, and lfs.oid for large ones); {endpoint}/{repo}/resolve/main/{path}
// answers with the file or a redirect to where it is stored.
#include "catalogue/ModelDownload.h"

#include <arpa/inet.h>
#include <glib.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>

#include "catalogue/DownloadStaging.h"
#include "catalogue/FileDigest.h"
#include "platform/HttpClient.h"

namespace quillmere {
namespace {

using Json = nlohmann::json;
using Reason = ModelDownload::Failure::Reason;

bool nameCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
}

bool validPart(const std::string& part) {
  return !part.empty() && part != "." && part != ".." && part.size() <= 96 &&
         std::all_of(part.begin(), part.end(), nameCharacter);
}

std::string percentEncoded(const std::string& path) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : path) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += digits[c >> 4];
      out += digits[c & 15];
    }
  }
  return out;
}

// Larger than any file of a model: a listed size beyond it is no size at all.
constexpr std::uint64_t largestFile = std::uint64_t{1} << 40;

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The host of a URL's authority, without user, port or brackets' contents changed.
std::string hostOf(const std::string& url) {
  const auto start = url.find("://") + 3;
  auto authority = url.substr(start, url.find_first_of("/?#", start) - start);
  authority =
      authority.substr(authority.rfind('@') == std::string::npos ? 0 : authority.rfind('@') + 1);
  if (authority.starts_with('[')) return authority.substr(0, authority.find(']') + 1);
  return lower(authority.substr(0, authority.find(':')));
}

bool loopback(const std::string& host) {
  if (host == "localhost") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return host.size() > 2 && host.front() == '[' && host.back() == ']' &&
         inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &v6) == 1 &&
         IN6_IS_ADDR_LOOPBACK(&v6);
}

// The progress, told what has arrived, answers whether to stop the checks and the import.
ImportStop stopOf(const ModelDownload::Progress& progress, std::uint64_t done,
                  std::uint64_t total) {
  return ImportStop([&progress, done, total] { return progress && !progress(done, total); });
}

// A stop while the files are checked or imported stops the download: what arrived is kept.
template <typename Step>
auto unlessStopped(const Step& step) {
  try {
    return step();
  } catch (const ImportStop::Stopped&) {
    throw ModelDownload::Failure(Reason::stopped, {});
  }
}

bool intact(const ModelDownload::File& file, const std::filesystem::path& path,
            const ImportStop& stop) {
  if (!file.sha256.empty())
    return FileDigest::of(G_CHECKSUM_SHA256, {path}, {}, stop) == file.sha256;
  if (!file.gitOid.empty()) {
    const std::string header = "blob " + std::to_string(file.size) + std::string(1, '\0');
    return FileDigest::of(G_CHECKSUM_SHA1, {path}, header, stop) == file.gitOid;
  }
  return false;  // nothing to check against: never taken on trust
}

std::uint64_t sizeOf(const std::filesystem::path& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

bool optional(const std::string& path) {
  return path.ends_with("tokenizer_config.json");
}

}  // namespace

ModelDownload::Failure::Failure(Reason reason, Data data)
    : std::runtime_error(data.detail), reason_(reason), data_(std::move(data)) {}

ModelDownload::ModelDownload(std::string repository, std::string endpoint, std::string variant,
                             std::chrono::seconds stallTime)
    : repository_(std::move(repository)),
      endpoint_(checkedEndpoint(endpoint)),
      variant_(std::move(variant)),
      http_(std::make_unique<HttpClient>(stallTime)) {
  if (!isRepository(repository_)) {
    throw Failure(Reason::notRepository, {.repository = repository_});
  }
  if (!variant_.empty() && !ModelImport::isVariant(variant_)) {
    throw Failure(Reason::notVariant, {.variant = variant_});
  }
  name_ = nameOf(repository_);
  while (!endpoint_.empty() && endpoint_.back() == '/') endpoint_.pop_back();
}

ModelDownload::~ModelDownload() = default;

std::string ModelDownload::hubEndpoint() {
  const char* set = std::getenv("HF_ENDPOINT");
  return set && *set ? set : "https://huggingface.co";
}

std::string ModelDownload::checkedEndpoint(const std::string& endpoint) {
  const auto colon = endpoint.find("://");
  const auto scheme = colon == std::string::npos ? "" : lower(endpoint.substr(0, colon));
  const auto host = colon == std::string::npos ? "" : hostOf(endpoint);
  if (!host.empty() && (scheme == "https" || (scheme == "http" && loopback(host)))) {
    return scheme + endpoint.substr(colon);
  }
  throw Failure(Reason::endpointRefused, {.host = endpoint});
}

bool ModelDownload::isRepository(const std::string& text) {
  const auto slash = text.find('/');
  return slash != std::string::npos && validPart(text.substr(0, slash)) &&
         validPart(text.substr(slash + 1));
}

std::string ModelDownload::nameOf(const std::string& repository) {
  return repository.substr(repository.find('/') + 1);
}

std::string ModelDownload::host() const {
  auto rest =
      endpoint_.substr(endpoint_.find("://") == std::string::npos ? 0 : endpoint_.find("://") + 3);
  return rest.substr(0, rest.find('/'));
}

ModelDownload::Failure::Data ModelDownload::about(std::string file) const {
  return {.repository = repository_, .variant = variant_, .host = host(), .file = std::move(file)};
}

std::string ModelDownload::url(const std::string& relative) const {
  return endpoint_ + "/" + repository_ + "/resolve/main/" + percentEncoded(relative);
}

const std::vector<ModelDownload::File>& ModelDownload::files() {
  if (listed_) return files_;
  std::string body;
  try {
    body = http_->fetch(endpoint_ + "/api/models/" + repository_ + "/tree/main?recursive=true");
  } catch (const HttpClient::Failure& failure) {
    if (failure.status() == 404 || failure.status() == 401) {
      throw Failure(Reason::noSuchModel, about());
    }
    fail(failure, {});
  }
  readListing(body);
  listed_ = true;
  return files_;
}

void ModelDownload::readListing(const std::string& body) {
  std::vector<File> all;
  try {
    for (const auto& entry : Json::parse(body)) {
      if (entry.value("type", "") != "file") continue;
      File file{entry.at("path").get<std::string>(), 0, "", entry.value("oid", "")};
      file.size = sizeIn(entry, file.path, 0);
      if (entry.contains("lfs") && entry["lfs"].is_object()) {
        file.sha256 = entry["lfs"].value("oid", "");
        file.size = sizeIn(entry["lfs"], file.path, file.size);
      }
      all.push_back(std::move(file));
    }
  } catch (const Json::exception& error) {
    auto data = about();
    data.detail = error.what();
    throw Failure(Reason::unreadableList, std::move(data));
  }
  std::vector<std::string> paths;
  for (const auto& file : all) paths.push_back(file.path);
  const auto layout = ModelImport::layoutOf(paths);
  if (!layout) {
    throw Failure(Reason::notAnExport, about());
  }
  layout_ = *layout;
  if (layout_ == ModelImport::Layout::immich && !variant_.empty()) {
    throw Failure(Reason::variantOfImmich, about());
  }
  for (const auto& wanted : ModelImport::filesOf(layout_, variant_)) {
    const auto found =
        std::find_if(all.begin(), all.end(), [&](const File& file) { return file.path == wanted; });
    if (found != all.end()) {
      files_.push_back(*found);
    } else if (!optional(wanted)) {
      throw Failure(Reason::lacksFile, about(wanted));
    }
  }
}

// A size beyond any file's would wrap the sums of the room check and the progress.
std::uint64_t ModelDownload::sizeIn(const Json& entry, const std::string& path,
                                    std::uint64_t otherwise) const {
  if (!entry.contains("size")) return otherwise;
  const auto& size = entry["size"];
  if (size.is_number_unsigned() && size.get<std::uint64_t>() <= largestFile) {
    return size.get<std::uint64_t>();
  }
  auto data = about(path);
  data.detail = size.dump();
  throw Failure(Reason::impossibleSize, std::move(data));
}

std::uint64_t ModelDownload::totalBytes() {
  std::uint64_t total = 0;
  for (const auto& file : files()) total += file.size;
  return total;
}

std::filesystem::path ModelDownload::destination(const std::filesystem::path& models) const {
  return models / name();
}

std::filesystem::path ModelDownload::run(const std::filesystem::path& models,
                                         const Progress& progress) {
  files();
  const auto target = destination(models);
  std::error_code error;
  if (std::filesystem::exists(target, error)) {
    auto data = about();
    data.path = target.string();
    throw Failure(Reason::exists, std::move(data));
  }
  DownloadStaging staging(models, repository_, variant_);
  try {
    staging.lock();
  } catch (const DownloadStaging::Busy&) {
    throw Failure(Reason::busy, about());
  } catch (const std::exception& failure) {
    auto data = about();
    data.path = staging.files().string();
    data.detail = failure.what();
    throw Failure(Reason::cannotWrite, std::move(data));
  }
  try {
    checkRoom(models, staging.files());
  } catch (const Failure&) {
    if (staging.empty()) staging.discard();
    throw;
  }
  std::uint64_t before = 0;
  try {
    for (const auto& file : files_) {
      fetch(file, staging, before, progress);
      before += file.size;
    }
  } catch (const Failure&) {
    if (staging.empty()) staging.discard();  // nothing for a next run to go on from
    throw;
  }
  try {
    unlessStopped([&] {
      ModelImport import(staging.files(), variant_, stopOf(progress, totalBytes(), totalBytes()));
      import.write(target);
      notes_ = import.notes();
    });
  } catch (const ModelImport::Refusal&) {
    // The files are whole and checked: fetched again, they would be refused again.
    staging.discard();
    throw;
  }
  staging.discard();
  return target;
}

// The files still to come and the compiled encoders the import writes must fit.
void ModelDownload::checkRoom(const std::filesystem::path& models,
                              const std::filesystem::path& staging) {
  // Float16 encoders are widened to float32 before they are compiled: twice, and twice again.
  const std::uint64_t written = variant_ == "fp16" ? 4 : 1;
  std::uint64_t needed = 0;
  for (std::size_t i = 0; i < files_.size(); ++i) {
    const auto have = sizeOf(staging / files_[i].path);
    needed += files_[i].size - std::min(files_[i].size, have);
    if (i < 2) needed += written * files_[i].size;  // the encoders' compiled forms
  }
  struct statvfs room {};
  if (statvfs(staging.c_str(), &room) != 0) return;
  const auto free = static_cast<std::uint64_t>(room.f_bavail) * room.f_frsize;
  if (free < needed) {
    auto data = about();
    data.path = models.string();
    data.bytes = needed;
    data.free = free;
    throw Failure(Reason::noRoom, std::move(data));
  }
}

void ModelDownload::fetch(const File& file, DownloadStaging& staging, std::uint64_t before,
                          const Progress& progress) {
  const auto path = staging.files() / file.path;
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  if (sizeOf(path) > file.size) std::filesystem::remove(path, error);
  if (sizeOf(path) < file.size || !std::filesystem::exists(path, error)) {
    const HttpClient::Progress each = [&](std::uint64_t have, std::uint64_t) {
      return !progress || progress(before + std::min(have, file.size), totalBytes());
    };
    try {
      http_->download(url(file.path), path, each, file.size);
    } catch (const HttpClient::Failure& failure) {
      if (failure.kind() == HttpClient::Failure::Kind::disk) staging.discard();
      if (failure.kind() == HttpClient::Failure::Kind::oversized) {
        std::filesystem::remove(path, error);
        auto data = about(file.path);
        data.bytes = file.size;
        throw Failure(Reason::oversized, std::move(data));
      }
      fail(failure, file.path);
    }
  }
  if (!unlessStopped(
          [&] { return intact(file, path, stopOf(progress, before + file.size, totalBytes())); })) {
    std::filesystem::remove(path, error);
    throw Failure(Reason::corrupt, about(file.path));
  }
}

void ModelDownload::fail(const std::exception& failure, const std::string& file) const {
  const auto* http = dynamic_cast<const HttpClient::Failure*>(&failure);
  using Kind = HttpClient::Failure::Kind;
  auto data = about(file);
  data.detail = failure.what();
  switch (http ? http->kind() : Kind::other) {
    case Kind::unreachable:
      throw Failure(Reason::unreachable, std::move(data));
    case Kind::status:
      data.status = http->status();
      throw Failure(http->status() == 404 ? Reason::notFound : Reason::refused, std::move(data));
    case Kind::stalled:
      throw Failure(Reason::stalled, std::move(data));
    case Kind::interrupted:
      throw Failure(Reason::stopped, std::move(data));
    case Kind::disk:
      data.path = http->file().string();
      throw Failure(Reason::cannotStore, std::move(data));
    case Kind::oversized:
    case Kind::other:
      break;
  }
  throw Failure(Reason::brokeOff, std::move(data));
}

}  // namespace quillmere
