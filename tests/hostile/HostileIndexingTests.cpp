// SPDX-License-Identifier: GPL-3.0-or-later
// The real indexer, library, search and export over a folder full of hostile names, links,
// unreadable and sparse files, with the folder changing under the indexer's feet.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>

#include <chrono>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "HostileFolder.h"
#include "core/Float16.h"
#include "core/Utf8.h"
#include "export/MarkerExport.h"
#include "index/Library.h"
#include "indexer/Indexer.h"
#include "model/Embedder.h"
#include "platform/ImageCodec.h"
#include "platform/PowerMonitor.h"
#include "scan/FrameSampler.h"
#include "scan/Scanner.h"
#include "search/SearchEngine.h"
#include "support/LibraryTestAccess.h"
#include "support/MediaFactory.h"
#include "support/TempDirectory.h"

namespace quillmere::test {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto runLimit = 120s;

// The name as a test message can show it.
std::string shown(const std::string& name) {
  return nlohmann::json(name).dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

// Text with every ill-formed UTF-8 sequence replaced by U+FFFD, one per bad byte run the way
// the exports do it: valid text passes unchanged.
std::string replacingBadBytes(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = 1;
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0xC0) length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    const std::string piece = text.substr(i, length);
    if (c < 0x80 || (piece.size() == length && Utf8::isValid(piece))) {
      out += piece;
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      i += 1;
    }
  }
  return out;
}

// Waits for the indexer to go idle; stops it and answers false when that takes too long.
bool finishes(Indexer& indexer, std::chrono::seconds limit, double& seconds) {
  const auto started = std::chrono::steady_clock::now();
  auto idle = std::async(std::launch::async, [&] { indexer.waitUntilIdle(); });
  const bool inTime = idle.wait_for(limit) == std::future_status::ready;
  if (!inTime) {
    indexer.stop();
    idle.wait();
  }
  seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return inTime;
}

// True when every component below root is a real directory or file, not a link.
bool reachedWithoutLinks(const fs::path& root, const std::string& relPath) {
  fs::path at = root;
  for (const auto& part : fs::path(relPath)) {
    at /= part;
    struct stat info {};
    if (::lstat(at.c_str(), &info) != 0 || S_ISLNK(info.st_mode)) return false;
  }
  struct stat info {};
  return ::lstat(at.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::map<std::string, MediaFile> byPath(const std::vector<MediaFile>& files) {
  std::map<std::string, MediaFile> map;
  for (const auto& file : files) map.emplace(file.relPath, file);
  return map;
}

// Everything the tests look at: one folder, two indexing runs over it. The first run meets
// the folder changing (all at once after its first stored batch, and two files rewritten
// all the time); the second settles what the first could not see.
struct Scenario {
  TempDirectory temp;
  std::unique_ptr<HostileFolder> folder;
  std::unique_ptr<Embedder> embedder;
  std::unique_ptr<Library> library;
  fs::path libraryFile;
  Root root;
  fs::path drivePath = temp / "drive \xff";
  Root drive;
  std::vector<MediaFile> driveAtFirstBatch;
  Scanner::Result before;
  std::map<std::string, MediaFile> atFirstBatch;  // the files as the first batch left them
  std::vector<MediaFile> afterFirst;
  bool firstInTime = false;
  bool secondInTime = false;
  double firstSeconds = 0;
  double secondSeconds = 0;
  std::mutex callbackLock;
  std::vector<std::string> callbackFaults;  // onFileIndexed given a file not indexed
  int indexedCalls = 0;

  Scenario() {
    // The folder's own name is hostile too.
    folder = std::make_unique<HostileFolder>(temp / "root \"x\" 'y'\n\xff-", temp / "outside");
    embedder = std::make_unique<Embedder>(fs::path(QUILLMERE_RESOURCES_DIR) / "Model");
    libraryFile = temp / "library" / "Library.sqlite";
    library =
        std::make_unique<Library>(libraryFile, embedder->info().dim, embedder->info().signature());
    root =
        library->addRoot(folder->root().string(), std::nullopt, std::nullopt, std::nullopt, false);
    // A second folder, on a "drive" that goes away while the first batch is stored.
    fs::create_directories(drivePath);
    for (int i = 0; i < 3; ++i) {
      const fs::path photo = drivePath / ("old " + std::to_string(i) + ".jpg");
      fs::copy_file(BaseMedia::shared().photos[static_cast<std::size_t>(i)], photo);
      fs::last_write_time(photo, fs::file_time_type::clock::now() - std::chrono::hours(24 * 30));
    }
    drive = library->addRoot(drivePath.string(), std::nullopt, std::nullopt, std::nullopt, true);
    before = Scanner::scan(folder->root(), [] { return false; });
    // An empty machine tree: no power saving, no heat, whatever this computer reports.
    const auto conditions = std::make_shared<PowerMonitor>(temp / "machine");

    folder->startFlapping();
    {
      Indexer indexer(*library, *embedder, {}, conditions);
      indexer.onFileIndexed = [&](const MediaFile& file) {
        bool first = false;
        {
          std::lock_guard hold(callbackLock);
          first = indexedCalls++ == 0;
          if (file.state != FileState::indexed) callbackFaults.push_back(file.relPath);
        }
        if (!first) return;
        atFirstBatch = byPath(library->files(root.id));
        driveAtFirstBatch = library->files(drive.id);
        fs::rename(drivePath, temp / "unplugged");
        folder->changeEverything();
        indexer.run();  // as the folder watcher would: merged into this run
      };
      indexer.run();
      firstInTime = finishes(indexer, runLimit, firstSeconds);
    }  // joins the scan the change asked for
    folder->stopFlapping();
    afterFirst = library->files(root.id);

    Indexer indexer(*library, *embedder, {}, conditions);
    indexer.run();
    secondInTime = finishes(indexer, runLimit, secondSeconds);
  }

  static Scenario& shared() {
    static Scenario scenario;
    return scenario;
  }
};

class HostileIndexing : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::is_directory("/usr/share/backgrounds/mate/nature")) << "mate-backgrounds";
  }
  Scenario& s = Scenario::shared();
};

TEST_F(HostileIndexing, BothRunsEndInTimeAndEveryListedFileSettles) {
  EXPECT_TRUE(s.firstInTime) << "first run still going after " << s.firstSeconds << " s";
  EXPECT_TRUE(s.secondInTime) << "second run still going after " << s.secondSeconds << " s";
  EXPECT_GT(s.indexedCalls, 0);
  EXPECT_TRUE(s.callbackFaults.empty()) << shown(s.callbackFaults.front());
  ASSERT_FALSE(s.atFirstBatch.empty());

  // The scanner's own listing before anything changed: every file it saw, hostile names
  // included, was recorded and, unless the changes took it away, settled by the first run.
  const auto first = byPath(s.afterFirst);
  std::set<std::string> touched = {HostileFolder::flappingPhoto, HostileFolder::flappingClip,
                                   HostileFolder::truncatedClip, HostileFolder::noisedPhoto};
  for (const auto& gone : s.folder->deleted()) touched.insert(gone);
  for (const auto& [from, to] : s.folder->renamed()) touched.insert({from, to});
  for (const auto& scanned : s.before.files) {
    SCOPED_TRACE(shown(scanned.relPath));
    if (touched.contains(scanned.relPath)) continue;
    EXPECT_TRUE(s.atFirstBatch.contains(scanned.relPath));
    const auto found = first.find(scanned.relPath);
    ASSERT_NE(found, first.end());
    EXPECT_NE(found->second.state, FileState::pending);
    if (found->second.state == FileState::failed) {
      EXPECT_FALSE(found->second.error.value_or("").empty());
    }
  }
  // Every name the folder holds is in the listing, byte for byte.
  std::set<std::string> listed;
  for (const auto& scanned : s.before.files) listed.insert(scanned.relPath);
  for (const auto& name :
       {"line\nbreak.jpg", "\xff\xfe.jpg", "caf\xe9.jpg", "-rf.jpg", "back\\slash\\.jpg",
        "x.jpg/inner.jpg", "--help.mp4", "vid\nnew line.mp4", "huge.mp4", "huge.jpg"}) {
    EXPECT_TRUE(listed.contains(name)) << shown(name);
  }

  // After the second run nothing is left pending and every failure says why.
  for (const auto& file : s.library->files(s.root.id)) {
    SCOPED_TRACE(shown(file.relPath));
    EXPECT_NE(file.state, FileState::pending);
    const bool hasFrames = !s.library->vectors().vectors(file.id).empty();
    if (file.state == FileState::failed) {
      EXPECT_FALSE(file.error.value_or("").empty());
      EXPECT_FALSE(hasFrames);
    } else {
      EXPECT_FALSE(file.error.has_value());
      EXPECT_TRUE(hasFrames);
      EXPECT_EQ(s.library->frameTimes(file.id).size(),
                s.library->vectors().vectors(file.id).size());
      // Each frame's thumbnail is a picture of at most 200 pixels.
      for (const auto& [row, vector] : s.library->vectors().vectors(file.id)) {
        const auto thumbnail = s.library->thumbnail(row.frameID);
        ASSERT_TRUE(thumbnail);
        const auto picture = ImageCodec::decode(*thumbnail);
        ASSERT_TRUE(picture);
        EXPECT_LE(std::max(picture->width, picture->height), 200);
        EXPECT_GE(std::min(picture->width, picture->height), 1);
      }
    }
  }
}

TEST_F(HostileIndexing, TheLibraryEndsExactlyWhatIsOnDisk) {
  const auto stored = byPath(s.library->files(s.root.id));
  const auto listing = Scanner::scan(s.folder->root(), [] { return false; });
  std::set<std::string> onDisk, inLibrary;
  for (const auto& file : listing.files) onDisk.insert(file.relPath);
  for (const auto& [path, file] : stored) inLibrary.insert(path);
  EXPECT_EQ(inLibrary, onDisk);
  for (const auto& scanned : listing.files) {
    SCOPED_TRACE(shown(scanned.relPath));
    const auto found = stored.find(scanned.relPath);
    ASSERT_NE(found, stored.end());
    EXPECT_EQ(found->second.kind, scanned.kind);
    EXPECT_EQ(found->second.size, scanned.size);
    EXPECT_NEAR(found->second.mtime, scanned.mtime, 0.5);
  }

  // What each kind of entry became.
  for (const auto& path : s.folder->readable()) {
    if (path == HostileFolder::lockedFile) continue;
    const auto found = stored.find(path);
    ASSERT_NE(found, stored.end()) << shown(path);
    EXPECT_EQ(found->second.state, FileState::indexed)
        << shown(path) << ": " << found->second.error.value_or("");
  }
  for (const auto& path : s.folder->unreadableContent()) {
    const auto found = stored.find(path);
    ASSERT_NE(found, stored.end()) << shown(path);
    EXPECT_EQ(found->second.state, FileState::failed) << shown(path);
  }
  for (const auto& path : s.folder->deleted()) EXPECT_FALSE(stored.contains(path)) << shown(path);
  for (const auto& path : s.folder->added()) EXPECT_TRUE(stored.contains(path)) << shown(path);
  // A renamed folder's files were recognised as moved: same records, new paths.
  for (const auto& [from, to] : s.folder->renamed()) {
    SCOPED_TRACE(shown(from));
    EXPECT_FALSE(stored.contains(from));
    ASSERT_TRUE(stored.contains(to));
    ASSERT_TRUE(s.atFirstBatch.contains(from));
    EXPECT_EQ(stored.at(to).id, s.atFirstBatch.at(from).id);
  }

  // A scan now changes nothing.
  const auto framesBefore = s.library->vectors().count();
  EXPECT_EQ(s.library->applyScan(s.root.id, listing.files), Library::ScanChanges{});
  EXPECT_EQ(s.library->vectors().count(), framesBefore);
  EXPECT_EQ(byPath(s.library->files(s.root.id)), stored);

  // The file holds what memory holds, and is sound.
  {
    Library reopened(s.libraryFile, s.embedder->info().dim, s.embedder->info().signature());
    auto sorted = [](std::vector<MediaFile> files) {
      std::sort(files.begin(), files.end(),
                [](const MediaFile& a, const MediaFile& b) { return a.id < b.id; });
      return files;
    };
    EXPECT_EQ(sorted(reopened.allFiles()), sorted(s.library->allFiles()));
    EXPECT_EQ(reopened.roots(), s.library->roots());
    EXPECT_EQ(reopened.vectors().count(), s.library->vectors().count());
    std::vector<std::string> integrity;
    LibraryTestAccess::db(reopened).query("PRAGMA integrity_check", [&](const SQLite::Row& row) {
      integrity.push_back(*row.text(0));
    });
    EXPECT_EQ(integrity, std::vector<std::string>{"ok"});
    int orphans = 0;
    LibraryTestAccess::db(reopened).query("PRAGMA foreign_key_check",
                                          [&](const SQLite::Row&) { ++orphans; });
    EXPECT_EQ(orphans, 0);
  }
}

TEST_F(HostileIndexing, NothingOutsideTheFolderGetsIn) {
  const fs::path root = fs::canonical(s.folder->root());
  for (const auto& file : s.library->allFiles()) {
    SCOPED_TRACE(shown(file.relPath));
    if (file.rootID == s.drive.id) continue;
    EXPECT_EQ(file.rootID, s.root.id);
    EXPECT_FALSE(s.folder->neverListed().contains(file.relPath));
    EXPECT_TRUE(reachedWithoutLinks(root, file.relPath));
    const auto filePath = s.library->filePath(file);
    ASSERT_TRUE(filePath);
    const auto inside = fs::weakly_canonical(*filePath).lexically_relative(root);
    EXPECT_FALSE(inside.empty() || *inside.begin() == "..");
  }
  // The photo behind the link out of the folder is nowhere, under any name.
  const auto outsideSize = fs::file_size(s.folder->outside() / "real.jpg");
  for (const auto& file : s.library->allFiles()) {
    EXPECT_FALSE(fs::path(file.relPath).filename() == "real.jpg" &&
                 static_cast<std::uintmax_t>(file.size) == outsideSize);
    EXPECT_NE(fs::path(file.relPath).filename(), "real2.jpg");
  }
}

TEST_F(HostileIndexing, AFolderThatGoesAwayMidRunKeepsItsFilesAsTheyWere) {
  ASSERT_EQ(s.driveAtFirstBatch.size(), 3u);
  const auto now = s.library->files(s.drive.id);
  ASSERT_EQ(now.size(), 3u);
  for (const auto& file : now) {
    SCOPED_TRACE(shown(file.relPath));
    EXPECT_NE(file.state, FileState::failed) << file.error.value_or("");
  }
  EXPECT_GE(s.library->totals(std::set<std::int64_t>{s.drive.id}).pending, 1);
}

TEST_F(HostileIndexing, PermissionBitsKeepLockedEntriesOut) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "running as root: permission bits don't stop reads here (the CLI suite "
                    "checks them as another user)";
  }
  const auto stored = byPath(s.library->files(s.root.id));
  ASSERT_TRUE(stored.contains(HostileFolder::lockedFile));
  const auto& locked = stored.at(HostileFolder::lockedFile);
  EXPECT_EQ(locked.state, FileState::failed);
  EXPECT_FALSE(locked.error.value_or("").empty());
  for (const auto& path : s.folder->behindLockedDirectories()) {
    EXPECT_FALSE(stored.contains(path)) << shown(path);
  }
}

TEST_F(HostileIndexing, SearchesFindOnlyFilesThatExist) {
  SearchEngine engine(*s.library, *s.embedder);
  const auto checkAll = [&](const std::vector<SearchResult>& results) {
    for (const auto& result : results) {
      SCOPED_TRACE(shown(result.file.relPath));
      const auto current = s.library->file(result.file.id);
      ASSERT_TRUE(current);
      EXPECT_EQ(current->state, FileState::indexed);
      EXPECT_TRUE(reachedWithoutLinks(s.folder->root(), result.file.relPath));
    }
  };
  const auto red = engine.search("red", {}, 40).results;
  ASSERT_FALSE(red.empty());
  checkAll(red);
  std::set<std::string> redNames;
  for (const auto& result : red) redNames.insert(result.file.relPath);
  EXPECT_TRUE(redNames.contains(HostileFolder::redPhoto));
  EXPECT_TRUE(redNames.contains(HostileFolder::redVideo));

  // A query with the same hostile bytes the names carry is just a query.
  checkAll(engine.search("\xff\xfe \"&<>' \n\t-rf $(id)", {}, 40).results);

  // By example: a photo whose name is not UTF-8 finds itself first.
  const auto example = FrameSampler::photo(s.folder->examplePhoto(), 384);
  ASSERT_FALSE(example.frames.empty());
  const auto similar = engine.search(example.frames.front().image, {}, 20);
  ASSERT_FALSE(similar.empty());
  checkAll(similar);
  // Another file holds the same picture, embedded in another batch, so the example shares the
  // top score with it up to the rounding of that batch.
  const float top = similar.front().score;
  EXPECT_GT(top, 0.985f);
  EXPECT_TRUE(std::any_of(similar.begin(), similar.end(), [top](const SearchResult& result) {
    return result.score > top - 1e-4f && result.file.relPath == "caf\xe9.jpg";
  })) << similar.front().file.relPath;
}

TEST_F(HostileIndexing, ExportsOfTheResultsAreWellFormed) {
  SearchEngine engine(*s.library, *s.embedder);
  SearchFilter videos;
  videos.kinds = {MediaKind::video};
  const auto results = engine.search("red", videos, 50).results;
  ASSERT_GE(results.size(), 3u);
  const std::string label = "red \"night\" & <day> 'o\n\xff";
  std::vector<MarkerExport::Moment> moments;
  std::vector<MarkerExport::Row> rows;
  std::set<std::string> paths;
  for (const auto& result : results) {
    const auto filePath = s.library->filePath(result.file);
    ASSERT_TRUE(filePath);
    moments.push_back({*filePath, result.time, 5.0, label});
    rows.push_back({filePath->string(), result.time, result.score});
    paths.insert(filePath->string());
  }
  const auto out = s.temp / "exports\n'x' \xff";
  fs::create_directories(out);
  const auto xml = out / "markers \"1\".fcpxml";
  const auto table = out / "markers \"1\".csv";
  const std::string document = MarkerExport::fcpxml(moments, "Hostile & <title> \xfe", 2.5);
  const std::string csv = MarkerExport::csv(rows);
  std::ofstream(xml, std::ios::binary) << document;
  std::ofstream(table, std::ios::binary) << csv;
  EXPECT_TRUE(Utf8::isValid(document));
  EXPECT_TRUE(Utf8::isValid(csv));
  EXPECT_EQ(std::system(("xmllint --noout " + shellQuoted(xml)).c_str()), 0) << document;

  // Read back with Python's XML and CSV parsers.
  const auto read = readBackExports(xml, table);
  ASSERT_TRUE(read);
  const auto back = nlohmann::json::parse(*read);
  const auto& assets = back["fcpxml"]["assets"];
  EXPECT_EQ(assets.size(), paths.size());
  for (const auto& asset : assets) {
    // Every source URL names, byte for byte, one of the files exported.
    const std::string hex = asset["path_hex"];
    std::string path;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
      path += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    EXPECT_TRUE(paths.contains(path)) << shown(path);
    EXPECT_EQ(asset["scheme"], "file");
    EXPECT_EQ(asset["name"], replacingBadBytes(fs::path(path).stem().string()));
  }
  const auto& clips = back["fcpxml"]["clips"];
  ASSERT_EQ(clips.size(), moments.size());
  for (const auto& clip : clips) {
    ASSERT_EQ(clip["markers"].size(), 1u);
    EXPECT_EQ(clip["markers"][0]["value"], replacingBadBytes(label));
  }
  EXPECT_EQ(back["fcpxml"]["event"], "Hostile & <title> \xEF\xBF\xBD");

  const auto& lines = back["csv"];
  ASSERT_EQ(lines.size(), rows.size() + 1);
  EXPECT_EQ(lines[0], nlohmann::json({"File", "Timecode", "Seconds", "Score"}));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(lines[i + 1].size(), 4u);
    // Byte for byte: a path that is not UTF-8 comes as its file URL.
    const auto& path = rows[i].path;
    EXPECT_EQ(lines[i + 1][0], Utf8::isValid(path) ? path : MarkerExport::fileURL(path));
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", rows[i].time);
    EXPECT_EQ(lines[i + 1][2], seconds);
  }
}

}  // namespace
}  // namespace quillmere::test
