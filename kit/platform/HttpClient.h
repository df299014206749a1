// SPDX-License-Identifier: GPL-3.0-or-later
// The program's one way onto the network: plain HTTP GETs through libcurl, used only by the
// model download the user asks for. Redirects are followed, proxies are taken from the
// environment as curl does, and a transfer that stalls ends with an error instead of hanging.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

namespace quillmere {

class HttpClient {
 public:
  class Failure : public std::runtime_error {
   public:
    enum class Kind {
      unreachable,  // no connection (name, refused, TLS)
      status,       // the server answered with an error status
      stalled,      // nothing arrived for the stall time
      interrupted,  // the caller's progress function said stop
      disk,         // the file could not be written
      oversized,    // more arrived than the file may hold
      other,
    };
    Failure(Kind kind, long status, const std::string& what, std::filesystem::path file = {})
        : std::runtime_error(what), kind_(kind), status_(status), file_(std::move(file)) {}
    Kind kind() const { return kind_; }
    // The HTTP status for Kind::status, else 0.
    long status() const { return status_; }
    // For Kind::disk, the file that could not be opened or closed; empty when a write failed.
    const std::filesystem::path& file() const { return file_; }

   private:
    Kind kind_;
    long status_;
    std::filesystem::path file_;
  };

  // Told the bytes of the file so far and its whole size (0 when unknown); false stops.
  using Progress = std::function<bool(std::uint64_t have, std::uint64_t total)>;

  explicit HttpClient(std::chrono::seconds stallTime = std::chrono::seconds(30));
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // The body of a small answer (at most 64 MiB). Throws Failure.
  std::string fetch(const std::string& url);

  // Completes `file` from `url`: what the file already holds is kept and only the rest is
  // asked for with a range request, so a stopped download goes on where it ended. A server
  // that ignores the range sends the whole file again, which replaces it. A transfer that
  // would make the file larger than `largest` bytes is cut off (Kind::oversized). Throws
  // Failure; the bytes received so far stay in the file.
  void download(const std::string& url, const std::filesystem::path& file, const Progress& progress,
                std::uint64_t largest);

  // Whether `url` is https:, whatever the case of its scheme.
  static bool secure(const std::string& url);

  // The state libcurl's callbacks share with one transfer.
  struct Transfer;

 private:
  void perform(const std::string& url, Transfer& transfer);

  void* curl_;
  std::chrono::seconds stallTime_;
};

}  // namespace quillmere
