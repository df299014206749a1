// SPDX-License-Identifier: GPL-3.0-or-later
// tests/support/hub-server.py run for one test: the model hub's interface on the loopback
// address, serving the repositories under a folder.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace quillmere::test {

class HubServer {
 public:
  // Serves root/<owner>/<name>; a root/<owner>/<name>.fault file makes one repository fail.
  explicit HubServer(const std::filesystem::path& root);
  ~HubServer();
  HubServer(const HubServer&) = delete;
  HubServer& operator=(const HubServer&) = delete;

  // http://127.0.0.1:<port>, for HF_ENDPOINT.
  const std::string& endpoint() const { return endpoint_; }

 private:
  pid_t child_ = -1;
  std::string endpoint_;
};

}  // namespace quillmere::test
