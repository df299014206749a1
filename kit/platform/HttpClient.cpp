// SPDX-License-Identifier: GPL-3.0-or-later
// libcurl's easy interface, one handle per client, reused so that connections are kept.
#include "platform/HttpClient.h"

#include <curl/curl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace quillmere {

struct HttpClient::Transfer {
  std::string* body = nullptr;  // fetch: the answer
  std::FILE* file = nullptr;    // download: appended to
  std::uint64_t offset = 0;     // bytes the file had when the range was asked from
  std::uint64_t written = 0;    // bytes appended since
  std::uint64_t largest = 0;    // the most the file may hold
  bool oversized = false;
  bool checked = false;  // whether the answer's status was looked at
  int writeError = 0;
  const Progress* progress = nullptr;
  CURL* curl = nullptr;
};

namespace {

constexpr std::size_t largestAnswer = 64u << 20;

CURL* handle(void* curl) {
  return static_cast<CURL*>(curl);
}

long statusOf(CURL* curl) {
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  return status;
}

// A 200 to a range request is the whole file again: start the file over.
bool startOver(HttpClient::Transfer& transfer) {
  if (transfer.checked) return true;
  transfer.checked = true;
  if (transfer.offset == 0 || statusOf(transfer.curl) == 206) return true;
  if (std::fflush(transfer.file) != 0 || ftruncate(fileno(transfer.file), 0) != 0) {
    transfer.writeError = errno;
    return false;
  }
  std::rewind(transfer.file);
  transfer.offset = 0;
  return true;
}

std::size_t receive(char* data, std::size_t size, std::size_t count, void* context) {
  auto& transfer = *static_cast<HttpClient::Transfer*>(context);
  const std::size_t bytes = size * count;
  if (transfer.body) {
    if (transfer.body->size() + bytes > largestAnswer) return 0;
    transfer.body->append(data, bytes);
    return bytes;
  }
  if (!startOver(transfer)) return 0;
  if (transfer.offset + transfer.written + bytes > transfer.largest) {
    transfer.oversized = true;
    return 0;
  }
  transfer.written += bytes;
  if (std::fwrite(data, 1, bytes, transfer.file) != bytes) {
    transfer.writeError = errno ? errno : EIO;
    return 0;
  }
  return bytes;
}

int report(void* context, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
  auto& transfer = *static_cast<HttpClient::Transfer*>(context);
  if (!transfer.progress || !*transfer.progress) return 0;
  const auto base = transfer.offset;
  const std::uint64_t whole = total > 0 ? base + static_cast<std::uint64_t>(total) : 0;
  return (*transfer.progress)(base + static_cast<std::uint64_t>(now), whole) ? 0 : 1;
}

HttpClient::Failure::Kind kindOf(CURLcode code) {
  using Kind = HttpClient::Failure::Kind;
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
      return Kind::unreachable;
    case CURLE_HTTP_RETURNED_ERROR:
      return Kind::status;
    case CURLE_OPERATION_TIMEDOUT:
      return Kind::stalled;
    case CURLE_ABORTED_BY_CALLBACK:
      return Kind::interrupted;
    case CURLE_WRITE_ERROR:
      return Kind::disk;
    default:
      return Kind::other;
  }
}

void setUp() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

HttpClient::HttpClient(std::chrono::seconds stallTime) : stallTime_(stallTime) {
  setUp();
  curl_ = curl_easy_init();
  if (!curl_) throw Failure(Failure::Kind::other, 0, "libcurl could not start");
}

HttpClient::~HttpClient() {
  curl_easy_cleanup(handle(curl_));
}

std::string HttpClient::fetch(const std::string& url) {
  std::string body;
  Transfer transfer;
  transfer.body = &body;
  perform(url, transfer);
  return body;
}

bool HttpClient::secure(const std::string& url) {
  return url.size() >= 6 && strncasecmp(url.c_str(), "https:", 6) == 0;
}

void HttpClient::download(const std::string& url, const std::filesystem::path& file,
                          const Progress& progress, std::uint64_t largest) {
  std::FILE* out = std::fopen(file.c_str(), "ab");
  if (!out) {
    throw Failure(Failure::Kind::disk, 0, std::strerror(errno), file);
  }
  Transfer transfer;
  transfer.file = out;
  std::error_code error;
  const auto size = std::filesystem::file_size(file, error);
  transfer.offset = error ? 0 : size;
  transfer.progress = &progress;
  transfer.largest = largest;
  try {
    perform(url, transfer);
  } catch (const Failure& failure) {
    std::fclose(out);
    // The server has nothing past what the file holds: the caller's checksum decides.
    if (failure.status() == 416 && transfer.offset > 0) return;
    throw;
  }
  if (std::fclose(out) != 0) {
    throw Failure(Failure::Kind::disk, 0, std::strerror(errno), file);
  }
}

void HttpClient::perform(const std::string& url, Transfer& transfer) {
  CURL* curl = handle(curl_);
  transfer.curl = curl;
  char detail[CURL_ERROR_SIZE] = {};
  curl_easy_reset(curl);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Quillmere");
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, detail);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  // Once on HTTPS, neither the transfer nor a redirect may leave it.
  const char* protocols = secure(url) ? "https" : "http,https";
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, protocols);
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stallTime_.count()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &receive);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &report);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
  // A range rather than a resume: libcurl refuses a resumed transfer the server answers with
  // the whole file, which startOver() takes instead.
  const std::string range = std::to_string(transfer.offset) + "-";
  if (transfer.offset > 0) curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
  const CURLcode code = curl_easy_perform(curl);
  if (code == CURLE_OK) return;
  std::string what = detail[0] ? detail : curl_easy_strerror(code);
  if (transfer.writeError) what = std::strerror(transfer.writeError);
  if (code == CURLE_WRITE_ERROR && transfer.body) what = "the answer is too large";
  if (transfer.oversized) {
    throw Failure(Failure::Kind::oversized, 0,
                  "more than " + std::to_string(transfer.largest) + " bytes arrived");
  }
  const auto kind = transfer.writeError ? Failure::Kind::disk : kindOf(code);
  throw Failure(kind, kind == Failure::Kind::status ? statusOf(curl) : 0, what);
}

}  // namespace quillmere
