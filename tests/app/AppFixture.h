// SPDX-License-Identifier: GPL-3.0-or-later
// An AppModel over a fresh library file in a temporary directory, with the demo model, a
// machine whose power and thermal readings never pause indexing, and a made-up system tree
// for the mount table. Photos are the Debian wallpapers, reduced; clips come from ffmpeg.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QWindow>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AppModel.h"
#include "support/TempDirectory.h"

namespace quillmere {
class LibrarySettings;
}

namespace quillmere::test {

class AppTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // The model over this test's library; made on first use.
  AppModel& model();
  // The settings given the model's parts, as the settings window gives them.
  void attach(LibrarySettings& settings);
  AppModel::Setup setup() const;
  std::filesystem::path modelDirectory() const;
  std::filesystem::path systemRoot() const { return temp->path() / "system"; }

  std::filesystem::path makeFolder(const std::string& name);
  // count copies of the wallpapers (the first ones, in name order), name prefix + number.
  void addPhotos(const std::filesystem::path& folder, int count, const std::string& prefix = "p");
  // A 6-second moving test pattern.
  std::filesystem::path addClip(const std::filesystem::path& folder, const std::string& name);
  // Adds the folder and waits until the indexer has indexed it.
  std::int64_t addIndexed(const std::filesystem::path& folder);
  void waitIdle();
  // Types a query and waits for its answer.
  void search(const QString& query);

  // How long a test waits for an answer from the model's threads: generous, as the first
  // image embedding of a run loads the encoder, which under ThreadSanitizer takes seconds.
  static constexpr int answerWait = 60000;

  static bool waitFor(const std::function<bool()>& done, int milliseconds = answerWait) {
    return QTest::qWaitFor(done, milliseconds);
  }

  static inline std::unique_ptr<TempDirectory> media;
  static inline std::vector<std::filesystem::path> photos;
  std::unique_ptr<TempDirectory> temp;
  std::unique_ptr<AppModel> model_;
};

// The shown keyboard-reachable controls of the window's accessibility tree with no name.
std::string unnamedControls(QWindow* window);

}  // namespace quillmere::test
