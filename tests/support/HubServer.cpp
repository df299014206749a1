// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/HubServer.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace quillmere::test {

HubServer::HubServer(const std::filesystem::path& root) {
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe failed");
  child_ = fork();
  if (child_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    const std::string script = std::string(QUILLMERE_SOURCE_DIR) + "/tests/support/hub-server.py";
    execl(QUILLMERE_PYTHON, QUILLMERE_PYTHON, script.c_str(), root.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::FILE* port = fdopen(out[0], "r");
  char line[32] = {};
  const bool read = port && std::fgets(line, sizeof line, port);
  if (port) std::fclose(port);
  if (!read || child_ < 0) throw std::runtime_error("the hub stand-in did not start");
  endpoint_ = "http://127.0.0.1:" + std::to_string(std::stoi(line));
}

HubServer::~HubServer() {
  if (child_ <= 0) return;
  kill(child_, SIGKILL);
  waitpid(child_, nullptr, 0);
}

}  // namespace quillmere::test
