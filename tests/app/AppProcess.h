// SPDX-License-Identifier: GPL-3.0-or-later
// The real `quillmere` executable run as a user would, in an environment of its own: the
// offscreen platform, a runtime directory (where its instance socket lives), settings and
// data directories under `home`, the given library, and the demo model.
#pragma once

#include <QProcess>
#include <QStringList>
#include <filesystem>

namespace quillmere::test {

class AppProcess {
 public:
  AppProcess(const std::filesystem::path& home, const std::filesystem::path& library,
             const std::filesystem::path& modelDirectory);
  // Kills the process if it still runs.
  ~AppProcess();

  // The directory holding the instance's socket and lock.
  static std::filesystem::path runtimeDirectory(const std::filesystem::path& home);
  static std::filesystem::path socketPath(const std::filesystem::path& home);

  void start(const QStringList& arguments = {});
  // True when it ended within the time; then exitStatus and exitCode say how.
  bool waitForExit(int milliseconds);
  void kill();  // SIGKILL, and waits for the end
  QProcess& process() { return process_; }
  // What it wrote to stdout and stderr so far.
  QString output();

 private:
  QProcess process_;
  QString output_;
};

}  // namespace quillmere::test
