// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppProcess.h"

#include <QProcessEnvironment>

namespace quillmere::test {

namespace {

QString text(const std::filesystem::path& path) {
  return QString::fromStdString(path.string());
}

}  // namespace

std::filesystem::path AppProcess::runtimeDirectory(const std::filesystem::path& home) {
  return home / "run";
}

std::filesystem::path AppProcess::socketPath(const std::filesystem::path& home) {
  return runtimeDirectory(home) / (std::string(QUILLMERE_APPLICATION_ID) + ".socket");
}

AppProcess::AppProcess(const std::filesystem::path& home, const std::filesystem::path& library,
                       const std::filesystem::path& modelDirectory) {
  std::filesystem::create_directories(runtimeDirectory(home));
  // As the session makes it: the user's alone.
  std::filesystem::permissions(runtimeDirectory(home), std::filesystem::perms::owner_all);
  auto environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  environment.insert("XDG_RUNTIME_DIR", text(runtimeDirectory(home)));
  environment.insert("XDG_CONFIG_HOME", text(home / "config"));
  environment.insert("XDG_DATA_HOME", text(home / "data"));
  environment.insert("XDG_CACHE_HOME", text(home / "cache"));
  environment.insert("QUILLMERE_LIBRARY", text(library));
  environment.insert("QUILLMERE_MODEL_DIR", text(modelDirectory));
  environment.remove("XDG_ACTIVATION_TOKEN");
  environment.remove("DESKTOP_STARTUP_ID");
  process_.setProcessEnvironment(environment);
  process_.setProcessChannelMode(QProcess::MergedChannels);
}

AppProcess::~AppProcess() {
  if (process_.state() != QProcess::NotRunning) kill();
}

void AppProcess::start(const QStringList& arguments) {
  process_.start(QUILLMERE_APP_EXECUTABLE, arguments);
  process_.waitForStarted();
}

bool AppProcess::waitForExit(int milliseconds) {
  return process_.waitForFinished(milliseconds);
}

void AppProcess::kill() {
  process_.kill();
  process_.waitForFinished();
}

QString AppProcess::output() {
  output_ += QString::fromLocal8Bit(process_.readAll());
  return output_;
}

}  // namespace quillmere::test
