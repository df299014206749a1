// SPDX-License-Identifier: GPL-3.0-or-later
// A real library file in a fresh directory searched with the demo model, and helpers that
// store frames whose scores against a fixed query are known in advance.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "index/Library.h"
#include "model/Embedder.h"
#include "search/SearchEngine.h"
#include "support/TempDirectory.h"

namespace quillmere::test {

// One stored frame: its time and the score it gets against SearchTest::axis().
struct Shot {
  double time = 0;
  float score = 0;
};

class SearchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;

  // The unit query along the first component.
  static std::vector<float> axis();
  // A unit vector whose score against axis() is the binary16 value nearest score.
  static std::vector<Half> scoring(float score);
  // What the index computes for a frame stored with scoring(score).
  static float stored(float score);

  // A folder with one file per entry (all listed in one scan), looked up by path.
  Root addFolder(const std::string& path, const std::vector<ScannedFile>& entries);
  MediaFile fileAt(const Root& root, const std::string& relPath);
  // Stores frames scoring as given and marks the file indexed.
  MediaFile store(const MediaFile& file, const std::vector<Shot>& shots);
  // A video (or photo) in a folder of its own, with its frames stored.
  MediaFile storedFile(const std::string& name, MediaKind kind, const std::vector<Shot>& shots);

  static Embedder* embedder;
  TempDirectory dir;
  std::unique_ptr<Library> library;
  std::unique_ptr<SearchEngine> engine;
  int folders = 0;
};

// The (file name, time) pairs of results, in order.
std::vector<std::pair<std::string, double>> moments(const std::vector<SearchResult>& results);

}  // namespace quillmere::test
