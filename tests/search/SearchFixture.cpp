// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/SearchFixture.h"

#include <cmath>

#include "core/Float16.h"

namespace quillmere::test {

Embedder* SearchTest::embedder = nullptr;

void SearchTest::SetUpTestSuite() {
  const auto directory = Embedder::defaultDirectory();
  ASSERT_TRUE(directory.has_value()) << "the demo model is made at build time";
  embedder = new Embedder(*directory);
}

void SearchTest::TearDownTestSuite() {
  delete embedder;
  embedder = nullptr;
}

void SearchTest::SetUp() {
  ASSERT_NE(embedder, nullptr);
  library = std::make_unique<Library>(dir / "Library.sqlite",
                                      static_cast<std::size_t>(embedder->info().dim),
                                      embedder->info().signature());
  engine = std::make_unique<SearchEngine>(*library, *embedder);
}

std::vector<float> SearchTest::axis() {
  std::vector<float> query(static_cast<std::size_t>(embedder->info().dim), 0.0f);
  query[0] = 1.0f;
  return query;
}

std::vector<Half> SearchTest::scoring(float score) {
  std::vector<float> vector(static_cast<std::size_t>(embedder->info().dim), 0.0f);
  vector[0] = score;
  vector[1] = std::sqrt(1.0f - score * score);
  return halvesFromFloats(vector);
}

float SearchTest::stored(float score) {
  return floatFromHalf(halfFromFloat(score));
}

Root SearchTest::addFolder(const std::string& path, const std::vector<ScannedFile>& entries) {
  Root root = library->addRoot(path, std::nullopt, std::nullopt, std::nullopt, false);
  library->applyScan(root.id, entries);
  return root;
}

MediaFile SearchTest::fileAt(const Root& root, const std::string& relPath) {
  for (const MediaFile& file : library->files(root.id)) {
    if (file.relPath == relPath) return file;
  }
  ADD_FAILURE() << "no file " << relPath;
  return {};
}

MediaFile SearchTest::store(const MediaFile& file, const std::vector<Shot>& shots) {
  std::vector<FrameRecord> frames;
  for (const Shot& shot : shots)
    frames.push_back({.time = shot.time, .vector = scoring(shot.score)});
  const double duration = file.kind == MediaKind::video ? 600.0 : 0.0;
  library->saveFrames(file, frames, duration, 640, 480);
  return *library->file(file.id);
}

MediaFile SearchTest::storedFile(const std::string& name, MediaKind kind,
                                 const std::vector<Shot>& shots) {
  const Root root = addFolder((dir / ("folder" + std::to_string(++folders))).string(),
                              {{.relPath = name, .kind = kind, .size = 1000, .mtime = 1e9}});
  return store(fileAt(root, name), shots);
}

std::vector<std::pair<std::string, double>> moments(const std::vector<SearchResult>& results) {
  std::vector<std::pair<std::string, double>> list;
  for (const SearchResult& result : results) list.emplace_back(result.file.name(), result.time);
  return list;
}

}  // namespace quillmere::test
