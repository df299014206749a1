// SPDX-License-Identifier: GPL-3.0-or-later
#include "IndexerFixture.h"

#include <thread>

#include "support/MediaFactory.h"

namespace quillmere::test {

std::filesystem::path IndexerTest::modelDirectory() {
  return std::filesystem::path(QUILLMERE_RESOURCES_DIR) / "Model";
}

void IndexerTest::SetUpTestSuite() {
  if (media) return;
  media = std::make_unique<TempDirectory>();
  const std::filesystem::path wallpapers = "/usr/share/backgrounds/mate/nature";
  std::vector<std::filesystem::path> sources;
  for (const auto& entry : std::filesystem::directory_iterator(wallpapers)) {
    if (entry.path().extension() == ".jpg") sources.push_back(entry.path());
  }
  std::sort(sources.begin(), sources.end());
  for (std::size_t i = 0; i < sources.size() && i < 8; ++i) {
    const auto out = media->path() / ("base" + std::to_string(i) + ".jpg");
    runCommand("vips thumbnail " + shellQuoted(sources[i]) + " " +
               shellQuoted(out.string() + "[Q=95]") + " 320");
    basePhotos.push_back(out);
  }
  baseVideo = media->path() / "clip.mp4";
  makePatternClip(baseVideo, 4, {.width = 320, .height = 180, .fps = 10});
}

void IndexerTest::SetUp() {
  ASSERT_FALSE(basePhotos.empty()) << "no wallpaper photos under /usr/share/backgrounds/mate";
  temp = std::make_unique<TempDirectory>();
  machine = std::make_unique<FakeSystemTree>(temp->path() / "machine");
  embedder = std::make_unique<Embedder>(modelDirectory());
  library = std::make_unique<Library>(temp->path() / "Library.sqlite", embedder->info().dim,
                                      embedder->info().signature());
}

void IndexerTest::TearDown() {
  library.reset();
  embedder.reset();
}

std::filesystem::path IndexerTest::makeFolder(const std::string& name) {
  const auto folder = temp->path() / name;
  std::filesystem::create_directories(folder);
  return folder;
}

std::vector<std::filesystem::path> IndexerTest::addPhotos(const std::filesystem::path& folder,
                                                          int count, const std::string& prefix) {
  std::vector<std::filesystem::path> made;
  const auto base = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24);
  for (int i = 0; i < count; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "%s%02d.jpg", prefix.c_str(), i);
    const auto file = folder / name;
    std::filesystem::copy_file(basePhotos[static_cast<std::size_t>(i) % basePhotos.size()], file,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::last_write_time(file, base + std::chrono::minutes(i));
    made.push_back(file);
  }
  return made;
}

std::filesystem::path IndexerTest::addVideo(const std::filesystem::path& folder,
                                            const std::string& name) {
  const auto file = folder / name;
  std::filesystem::copy_file(baseVideo, file, std::filesystem::copy_options::overwrite_existing);
  return file;
}

Root IndexerTest::addRoot(const std::filesystem::path& folder) {
  return library->addRoot(folder.string(), std::nullopt, std::nullopt, std::nullopt, false);
}

std::unique_ptr<Indexer> IndexerTest::makeIndexer() {
  return std::make_unique<Indexer>(*library, *embedder, Indexer::Policy{},
                                   std::make_shared<PowerMonitor>(machine->root()));
}

bool IndexerTest::eventually(const std::function<bool()>& condition,
                             std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

std::vector<IndexerTest::Report> IndexerTest::reportsCopy() {
  std::lock_guard guard(reportsLock);
  return reports;
}

void IndexerTest::recordReports(Indexer& indexer) {
  indexer.onProgress = [this](const Indexer::Progress& progress) {
    std::lock_guard guard(reportsLock);
    reports.push_back({progress, std::chrono::steady_clock::now()});
  };
}

}  // namespace quillmere::test
