// SPDX-License-Identifier: GPL-3.0-or-later
// quillmere-cli driven as a user would: a temporary home, real photos and generated clips.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "core/PictureFaces.h"
#include "core/PictureText.h"
#include "index/FolderRules.h"
#include "index/Library.h"
#include "support/HubServer.h"
#include "support/MediaFactory.h"
#include "support/MountNamespace.h"
#include "support/TempDirectory.h"

namespace quillmere::test {
namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string slurp(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class CliTest : public ::testing::Test {
 protected:
  static inline std::unique_ptr<TempDirectory> media;

  static void SetUpTestSuite() {
    media = std::make_unique<TempDirectory>();
    const auto photos = media->path() / "photos";
    std::filesystem::create_directories(photos);
    int n = 0;
    for (const auto name : {"Aqua", "FreshFlower", "GreenMeadow", "Dune"}) {
      runCommand("vips thumbnail /usr/share/backgrounds/mate/nature/" + std::string(name) +
                 ".jpg " +
                 shellQuoted((photos / (std::string(name) + ".jpg")).string() + "[Q=92]") + " 640");
      ++n;
    }
    // A re-encoded, resized copy of one photo.
    runCommand("vips thumbnail " + shellQuoted(photos / "Dune.jpg") + " " +
               shellQuoted((photos / "copy-of-Dune.jpg").string() + "[Q=85]") + " 600");
    const auto videos = media->path() / "videos";
    std::filesystem::create_directories(videos);
    // Grey for 4 s, then red for 4 s; noise keeps the file above the scanner's minimum size.
    runCommand(
        "ffmpeg -loglevel error -y -f lavfi -i color=c=0x707070:s=320x180:r=10:d=4 "
        "-f lavfi -i color=c=0xcc1a1a:s=320x180:r=10:d=4 -filter_complex "
        "'[0][1]concat=n=2:v=1,noise=alls=30:allf=t' -c:v libx264 -pix_fmt yuv420p " +
        shellQuoted(videos / "cut.mp4"));
  }
  static void TearDownTestSuite() { media.reset(); }

  void SetUp() override {
    home = std::make_unique<TempDirectory>();
    library = home->path() / "data" / "Library.sqlite";
  }

  std::string binary() const { return std::string(QUILLMERE_BINARY_DIR) + "/cli/quillmere-cli"; }

  std::string environment(const std::string& model) const {
    // Dates without an offset are read and typed in UTC here, whatever the machine's zone.
    // No text or face model: both are tested beside the indexer, and take time a photo.
    return "env TZ=UTC0 HOME=" + shellQuoted(home->path()) +
           " QUILLMERE_LIBRARY=" + shellQuoted(library) +
           " QUILLMERE_MODEL_DIR=" + shellQuoted(model) +
           " QUILLMERE_TEXT_MODEL_DIR=" + shellQuoted(home->path() / "no-text-model") +
           " QUILLMERE_FACE_MODEL_DIR=" + shellQuoted(home->path() / "no-face-model") + " ";
  }

  Outcome cli(const std::string& args, const std::string& model = modelDirectory()) const {
    const auto out = home->path() / "out.txt";
    const auto err = home->path() / "err.txt";
    const auto command = environment(model) + shellQuoted(binary()) + " " + args + " >" +
                         shellQuoted(out) + " 2>" + shellQuoted(err) + " </dev/null";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
  }

  static std::string modelDirectory() {
    return (std::filesystem::path(QUILLMERE_RESOURCES_DIR) / "Model").string();
  }

  std::string folder(const std::string& name) const { return shellQuoted(media->path() / name); }

  void addAndIndex() {
    ASSERT_EQ(cli("add " + folder("photos") + " " + folder("videos")).status, 0);
    const auto indexed = cli("index");
    ASSERT_EQ(indexed.status, 0) << indexed.err;
  }

  // The command line run with args in a child process writing to log.
  pid_t start(const std::string& args, const std::filesystem::path& log) const {
    const pid_t child = fork();
    if (child == 0) {
      const auto command = "exec " + environment(modelDirectory()) + shellQuoted(binary()) + " " +
                           args + " >" + shellQuoted(log) + " 2>&1";
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    EXPECT_GE(child, 0);
    return child;
  }
  // The child's exit status once signal has stopped it; -1 when the signal ended it.
  static int stop(pid_t child, int signal) {
    kill(child, signal);
    int raw = 0;
    waitpid(child, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  // A folder holding one photo, added, and `index --watch` over it in a child process
  // writing to log.
  pid_t startWatching(const std::filesystem::path& folder, const std::filesystem::path& log) {
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(media->path() / "photos/Aqua.jpg", folder / "Aqua.jpg");
    EXPECT_EQ(cli("add " + shellQuoted(folder)).status, 0);
    return start("index --watch", log);
  }

  // As a user runs it from home: no model set by the environment, the XDG folders in home.
  Outcome asUser(const std::string& args, const std::string& environment = "") const {
    const auto out = home->path() / "out.txt";
    const auto err = home->path() / "err.txt";
    const auto command = "cd " + shellQuoted(home->path()) +
                         " && env -u QUILLMERE_MODEL_DIR HOME=" + shellQuoted(home->path()) +
                         " XDG_CONFIG_HOME=" + shellQuoted(home->path() / "config") +
                         " XDG_DATA_HOME=" + shellQuoted(home->path() / "share") +
                         " QUILLMERE_LIBRARY=" + shellQuoted(library) + " " + environment + " " +
                         shellQuoted(binary()) + " " + args + " >" + shellQuoted(out) + " 2>" +
                         shellQuoted(err) + " </dev/null";
    const int raw = std::system(command.c_str());
    return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
  }

  std::unique_ptr<TempDirectory> home;
  std::filesystem::path library;
};

TEST_F(CliTest, AddIndexSearchAndStatusAsAUserWould) {
  addAndIndex();
  const auto status = nlohmann::json::parse(cli("status --json").out);
  EXPECT_EQ(status["folders"], 2);
  EXPECT_EQ(status["files"], 6);
  EXPECT_EQ(status["indexed"], 6);
  EXPECT_EQ(status["videos"], 1);
  EXPECT_EQ(status["pending"], 0);

  // A red search finds the red half of the clip, after the cut at 4 s.
  const auto red = nlohmann::json::parse(cli("search red --videos --json").out);
  ASSERT_FALSE(red["results"].empty());
  const auto& top = red["results"][0];
  EXPECT_EQ(top["kind"], "video");
  EXPECT_EQ(std::filesystem::path(top["path"].get<std::string>()).filename(), "cut.mp4");
  EXPECT_GE(top["time"].get<double>(), 3.9);
  EXPECT_LT(top["time"].get<double>(), 8.0);
  EXPECT_GT(top["probability"].get<double>(), 0.5);
  const auto exact = nlohmann::json::parse(cli("search red --videos --exact --json").out);
  EXPECT_GE(exact["results"][0]["time"].get<double>(), 3.9);
  EXPECT_GE(exact["results"][0]["score"].get<double>(), top["score"].get<double>());

  // Photos only, limited, in one folder: every line admits the filter.
  const auto photos = nlohmann::json::parse(
      cli("search green --photos --limit 2 --folder " + folder("photos") + " --json").out);
  ASSERT_EQ(photos["results"].size(), 2u);
  for (const auto& result : photos["results"]) EXPECT_EQ(result["kind"], "photo");
  EXPECT_GE(photos["results"][0]["score"].get<double>(),
            photos["results"][1]["score"].get<double>());

  // The text form: path and time code as "Copy Path and Time" has them.
  const auto text = cli("search red --videos --limit 1");
  EXPECT_NE(text.out.find("cut.mp4 00:00:0"), std::string::npos) << text.out;

  const auto folders = cli("folders");
  EXPECT_NE(folders.out.find("online, 5 files"), std::string::npos) << folders.out;
}

TEST_F(CliTest, DatesFilterAndOrderTheMomentsAndShowWithEach) {
  const auto dated = home->path() / "dated";
  std::filesystem::create_directories(dated);
  const auto photo = [&](const char* from, const char* to, const std::string& tags) {
    runCommand("exiftool -q -all= " + tags + " -o " + shellQuoted(dated / to) + " " +
               shellQuoted(media->path() / "photos" / from));
  };
  photo("Aqua.jpg", "june.jpg",
        "'-DateTimeOriginal=2024:06:01 12:00:00' '-OffsetTimeOriginal=+02:00'");
  photo("Dune.jpg", "christmas.jpg", "'-DateTimeOriginal=2021:12:24 18:00:00'");
  runCommand("ffmpeg -v error -i " + shellQuoted(media->path() / "videos/cut.mp4") +
             " -c copy -metadata creation_time=2023-05-04T10:20:30Z " +
             shellQuoted(dated / "may.mp4"));
  ASSERT_EQ(cli("add " + shellQuoted(dated)).status, 0);
  ASSERT_EQ(cli("index").status, 0);
  const auto found = [&](const std::string& options) {
    const auto outcome = cli("search red --json " + options);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    std::vector<std::string> list;
    const auto document = nlohmann::json::parse(outcome.out);
    for (const auto& r : document["results"]) {
      list.push_back(std::filesystem::path(r["path"].get<std::string>()).filename().string() + " " +
                     r["taken"].get<std::string>() + " " + r["taken_source"].get<std::string>());
    }
    return list;
  };
  using Names = std::vector<std::string>;
  const std::string june = "june.jpg 2024-06-01T12:00:00+02:00 exif";
  const std::string christmas = "christmas.jpg 2021-12-24T18:00:00 exif";
  const std::string may = "may.mp4 2023-05-04T10:20:30+00:00 container";
  EXPECT_EQ(found("--limit 1 --order newest"), Names{may}) << "the best match, alone";
  EXPECT_EQ(found("--order newest --limit 3 --photos"), (Names{june, christmas}));
  EXPECT_EQ(found("--after 2022-01 --before 2024-06 --limit 3"), Names{may});
  EXPECT_EQ(found("--after 2024-06 --limit 3"), Names{june});
  EXPECT_EQ(found("--before 2021-12-25 --limit 3"), Names{christmas});
  const auto text = cli("search red --videos --limit 1");
  EXPECT_NE(text.out.find("2023-05-04  " + (dated / "may.mp4").string()), std::string::npos)
      << text.out;

  for (const auto* wrong :
       {"--after 2024", "--before 2024-6-1", "--after 2024-02-30", "--order random",
        "--min-probability 1.5", "--min-probability ten%", "--after 2024-06 --before 2024-06",
        "+ 340282366920938463463374607431768211456:red",
        "- red"}) {  // the last cancels: nothing left to look for
    const auto outcome = cli(std::string("search red ") + wrong);
    EXPECT_EQ(outcome.status, 2) << wrong;
    EXPECT_EQ(outcome.out, "") << wrong;
  }
  // The demo model's probabilities, as printed, are what --min-probability filters by.
  const auto probabilities = [&](const std::string& options) {
    std::vector<double> list;
    const auto document = nlohmann::json::parse(cli("search red --json --limit 3 " + options).out);
    for (const auto& r : document["results"]) list.push_back(r["probability"].get<double>());
    return list;
  };
  const auto all = probabilities("");
  ASSERT_EQ(all.size(), 3u);
  ASSERT_GT(all.front(), all.back());
  const auto kept = probabilities("--min-probability " + nlohmann::json(all[1]).dump());
  const auto below = [&](double p) { return float(p) < float(all[1]); };
  EXPECT_EQ(kept, std::vector<double>(all.begin(), std::find_if(all.begin(), all.end(), below)));

  // Words added to a picture and taken away.
  const auto like = [&](const std::string& options) {
    const auto outcome = cli("similar " + shellQuoted(dated / "june.jpg") + " --json " + options);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    const auto document = nlohmann::json::parse(outcome.out);
    return std::filesystem::path(document["results"].at(0)["path"].get<std::string>()).filename();
  };
  EXPECT_EQ(like(""), "june.jpg");
  EXPECT_EQ(like("--plus 3:red"), "may.mp4");
  EXPECT_EQ(like("--plus 3:red --minus 3:red"), "june.jpg");
  EXPECT_EQ(like("--region 0,0,1,1"), "june.jpg");
  // Each refused with the option it names, and nothing printed.
  for (const std::string wrong :
       {"--plus red --plus 340282366920938463463374607431768211456:red",
        "--minus 340282366920938463463374607431768211456:red", "--region 0.5,0.5,0.6,0.2",
        "--region 0,0,1", "--region -0.1,0,0.5,0.5", "--region 0,0,0,1", "--region nan,0,1,1",
        "--region 0.5,0.5,1e-7,0.5", "--region 0.1,0.1,0.5,0.5,"}) {
    const auto outcome =
        cli("similar " + shellQuoted(dated / "june.jpg") + " " + wrong + " --json");
    EXPECT_EQ(outcome.status, 2) << wrong;
    EXPECT_EQ(outcome.out, "") << wrong;
    const auto named = wrong.starts_with("--region") ? "--region" : "The weight 3402";
    EXPECT_NE(outcome.err.find(named), std::string::npos) << outcome.err;
  }
}

TEST_F(CliTest, SimilarDuplicatesExportAndRemove) {
  addAndIndex();
  // By photo: its own re-encoded copy comes right after it.
  const auto byPhoto = nlohmann::json::parse(
      cli("similar " + shellQuoted(media->path() / "photos/Dune.jpg") + " --limit 2 --json").out);
  ASSERT_EQ(byPhoto["results"].size(), 2u);
  std::set<std::string> names;
  for (const auto& r : byPhoto["results"]) {
    names.insert(std::filesystem::path(r["path"].get<std::string>()).filename());
  }
  EXPECT_EQ(names, (std::set<std::string>{"Dune.jpg", "copy-of-Dune.jpg"}));
  // By a stored video frame: the frame itself leads.
  const auto byFrame = nlohmann::json::parse(
      cli("similar " + shellQuoted(media->path() / "videos/cut.mp4") + "@6 --videos --json").out);
  ASSERT_FALSE(byFrame["results"].empty());
  EXPECT_GE(byFrame["results"][0]["time"].get<double>(), 3.9);

  const auto groups = nlohmann::json::parse(cli("duplicates --json").out);
  ASSERT_EQ(groups["groups"].size(), 1u);
  const auto& group = groups["groups"][0];
  ASSERT_EQ(group["files"].size(), 2u);
  EXPECT_TRUE(group["exact"].get<bool>());
  EXPECT_TRUE(group["files"][0]["keep"].get<bool>());
  EXPECT_FALSE(group["files"][1]["keep"].get<bool>());

  const auto csv = home->path() / "red.csv";
  ASSERT_EQ(cli("export red -o " + shellQuoted(csv)).status, 0);
  const auto table = slurp(csv);
  EXPECT_EQ(table.rfind("File,Timecode,Seconds,Score\n", 0), 0u) << table;
  EXPECT_NE(table.find("cut.mp4\",00:00:0"), std::string::npos) << table;
  const auto xml = home->path() / "red.fcpxml";
  const auto exported = cli("export red -o " + shellQuoted(xml));
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_NE(exported.out.find("Exported 1 moment to red.fcpxml."), std::string::npos);
  const auto document = slurp(xml);
  EXPECT_NE(document.find("<fcpxml version=\"1.9\""), std::string::npos);
  EXPECT_NE(document.find("cut.mp4"), std::string::npos);
  EXPECT_EQ(cli("export red -o " + shellQuoted(home->path() / "red.txt")).status, 2);

  ASSERT_EQ(cli("remove " + folder("videos")).status, 0);
  const auto status = nlohmann::json::parse(cli("status --json").out);
  EXPECT_EQ(status["folders"], 1);
  EXPECT_EQ(status["videos"], 0);
  EXPECT_EQ(status["files"], 5);
  // Nothing left to export once the video folder is gone.
  EXPECT_EQ(cli("export red -o " + shellQuoted(csv)).status, 1);
}

// The burst of the application's duplicates tests, made the same way: neighbours are exact
// pairs, the ends are not. The group is the same picture by its lowest linking pair, as the
// duplicates window words it.
TEST_F(CliTest, ABurstChainedByExactNeighboursIsTheSamePicture) {
  std::vector<std::filesystem::path> sources;
  for (const auto& entry :
       std::filesystem::directory_iterator("/usr/share/backgrounds/mate/nature")) {
    if (entry.path().extension() == ".jpg") sources.push_back(entry.path());
  }
  std::sort(sources.begin(), sources.end());
  ASSERT_GE(sources.size(), 2u);
  const auto base = home->path() / "base.jpg";
  runCommand("vips thumbnail " + shellQuoted(sources[1]) + " " +
             shellQuoted(base.string() + "[Q=90]") + " 320");
  const auto burst = home->path() / "Burst";
  std::filesystem::create_directories(burst);
  for (int i = 0; i < 12; ++i) {
    const auto shot = burst / ("shot" + std::to_string(i) + ".jpg");
    runCommand("vips linear " + shellQuoted(base) + " " + shellQuoted(shot.string() + "[Q=90]") +
               " " + std::to_string(1.0 - 0.06 * i) + " 0");
  }
  ASSERT_EQ(cli("add " + shellQuoted(burst)).status, 0);
  ASSERT_EQ(cli("index").status, 0);

  const auto groups = nlohmann::json::parse(cli("duplicates --json").out);
  ASSERT_EQ(groups["groups"].size(), 1u);
  EXPECT_EQ(groups["groups"][0]["files"].size(), 12u);
  EXPECT_TRUE(groups["groups"][0]["exact"].get<bool>());
  EXPECT_NE(cli("duplicates").out.find("(same picture)"), std::string::npos);
}

TEST_F(CliTest, AParentFolderReplacesTheFoldersInsideItAndEachFileIsStoredOnce) {
  addAndIndex();
  const auto again = cli("add " + shellQuoted(media->path() / "photos" / "") + " " +
                         shellQuoted(media->path() / "photos" / ".." / "videos"));
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out.find("Added"), std::string::npos) << again.out;

  const auto parent = cli("add " + shellQuoted(media->path()));
  ASSERT_EQ(parent.status, 0) << parent.err;
  EXPECT_NE(parent.out.find("in place of " + (media->path() / "photos").string()),
            std::string::npos)
      << parent.out;
  ASSERT_EQ(cli("index").status, 0);
  const auto status = nlohmann::json::parse(cli("status --json").out);
  EXPECT_EQ(status["folders"], 1);
  EXPECT_EQ(status["files"], 6);
  EXPECT_EQ(status["indexed"], 6);
  // Only the real pair of copies; no file is its own duplicate.
  const auto groups = nlohmann::json::parse(cli("duplicates --json").out);
  ASSERT_EQ(groups["groups"].size(), 1u);
  EXPECT_EQ(groups["groups"][0]["files"].size(), 2u);

  // A query of only white space searches nothing, like an empty one.
  const auto blank = cli("search ' \t ' --json");
  EXPECT_EQ(blank.status, 0) << blank.err;
  EXPECT_TRUE(nlohmann::json::parse(blank.out)["results"].empty()) << blank.out;
}

TEST_F(CliTest, InterruptedIndexLeavesEverythingPendingOrStoredAndResumes) {
  ASSERT_EQ(cli("add " + folder("photos") + " " + folder("videos")).status, 0);
  const auto log = home->path() / "index.txt";
  const pid_t child = start("index", log);
  // Interrupt once indexing has begun (the plain progress lines say so).
  for (int i = 0; i < 400 && slurp(log).find("Scanning") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  // Stopped (130) or already done (0): either way the library is consistent.
  const int exit = stop(child, SIGINT);
  EXPECT_TRUE(exit == 130 || exit == 0) << slurp(log);
  auto status = nlohmann::json::parse(cli("status --json").out);
  EXPECT_EQ(status["failed"], 0);
  EXPECT_EQ(status["indexed"].get<int>() + status["pending"].get<int>(),
            status["files"].get<int>());
  ASSERT_EQ(cli("index").status, 0);
  status = nlohmann::json::parse(cli("status --json").out);
  EXPECT_EQ(status["indexed"], 6);
  EXPECT_EQ(status["pending"], 0);
}

// The library on a small disk that fills while indexing: the run says so and fails.
TEST_F(CliTest, AFullDiskEndsIndexNamingTheLibrarysFolderAndFailing) {
  const auto run = inMountNamespace("QUILLMERE_CLI_MOUNT_NAMESPACE");
  if (run == MountNamespace::unavailable)
    GTEST_SKIP() << "a small disk needs root and a mount namespace";
  if (run == MountNamespace::ran) return;
  const auto disk = home->path() / "small", photos = home->path() / "many";
  std::filesystem::create_directories(disk);
  ASSERT_EQ(::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=400k"), 0) << std::strerror(errno);
  library = disk / "Library.sqlite";
  std::filesystem::create_directories(photos);
  for (int i = 0; i < 60; ++i) {
    std::filesystem::copy_file(media->path() / "photos/Dune.jpg",
                               photos / (std::to_string(i) + ".jpg"));
  }
  ASSERT_EQ(cli("add " + shellQuoted(photos)).status, 0);
  const auto indexed = cli("index");
  const auto end = indexed.out.find(" pending, 0 failed");  // "… 28 pending, 0 failed."
  ASSERT_NE(end, std::string::npos) << indexed.out;
  const auto start = indexed.out.rfind(' ', end - 1) + 1;
  const auto waiting = indexed.out.substr(start, end - start);
  ASSERT_GT(std::stoi(waiting), 0) << indexed.out;
  EXPECT_EQ(indexed.status, 1);
  EXPECT_EQ(indexed.err, "quillmere-cli: The library can't be written: the disk holding " +
                             disk.string() + " is full. " + waiting +
                             " files wait to be indexed.\n");
}

TEST_F(CliTest, WatchIndexesWhatArrivesUntilInterrupted) {
  const auto folder = home->path() / "incoming";
  const auto log = home->path() / "watch.txt";
  const pid_t child = startWatching(folder, log);
  ASSERT_GT(child, 0);
  auto waitFor = [&](const std::string& text) {
    for (int i = 0; i < 600 && slurp(log).find(text) == std::string::npos; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return slurp(log).find(text) != std::string::npos;
  };
  EXPECT_TRUE(waitFor("Up to date: 1/1 files")) << slurp(log);
  // The running watcher holds the library: a second writer is refused meanwhile.
  EXPECT_EQ(cli("retry").status, 1);
  std::filesystem::copy_file(media->path() / "photos/FreshFlower.jpg", folder / "Flower.jpg");
  // A second run, of the new file alone, ends up to date as well.
  auto runsDone = [&] {
    const auto text = slurp(log);
    int count = 0;
    for (auto at = text.find("Up to date: 1/1"); at != std::string::npos;
         at = text.find("Up to date: 1/1", at + 1)) {
      ++count;
    }
    return count;
  };
  for (int i = 0; i < 600 && runsDone() < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(runsDone(), 2) << slurp(log);
  EXPECT_EQ(stop(child, SIGINT), 130);
  const auto status = nlohmann::json::parse(cli("status --json").out);
  EXPECT_EQ(status["indexed"], 2);
}

TEST_F(CliTest, FailedFilesAreListedAndRetried) {
  const auto broken = home->path() / "broken";
  std::filesystem::create_directories(broken);
  writeRandom(broken / "noise.jpg", 20000, 7);
  ASSERT_EQ(cli("add " + shellQuoted(broken)).status, 0);
  ASSERT_EQ(cli("index").status, 0);
  const auto failed = cli("failed");
  EXPECT_NE(failed.out.find("noise.jpg: "), std::string::npos) << failed.out;
  EXPECT_NE(cli("retry").out.find("1 failed file is pending again"), std::string::npos);
  EXPECT_EQ(nlohmann::json::parse(cli("status --json").out)["pending"], 1);
}

TEST_F(CliTest, TextReadInAPhotoIsPrintedAndFindsIt) {
  ASSERT_EQ(cli("add " + folder("photos")).status, 0);
  const auto indexed = cli("index");
  ASSERT_EQ(indexed.status, 0);
  EXPECT_NE(indexed.out.find("Text in pictures is not read: no text model is installed."),
            std::string::npos)
      << indexed.out;
  EXPECT_NE(indexed.out.find("Faces are not found: no face model is installed."), std::string::npos)
      << indexed.out;
  const auto aqua = media->path() / "photos/Aqua.jpg";
  auto outcome = cli("text " + shellQuoted(aqua));
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("has not been read yet"), std::string::npos) << outcome.err;
  outcome = cli("text " + shellQuoted(home->path() / "elsewhere.jpg@3"));
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("Not in the library: "), std::string::npos) << outcome.err;
  {
    Library writer(library, 1, "another model", Library::Opening::keepFrames);
    const PictureText text{{{.text = "Welcome to Brooklyn",
                             .box = {{{0.1f, 0.5f}, {0.5f, 0.5f}, {0.5f, 0.75f}, {0.1f, 0.75f}}}}}};
    ASSERT_TRUE(writer.saveStage(*FolderRules::storedFile(writer, aqua),
                                 {.stage = "text", .rows = {{.time = 0, .data = text.encoded()}}}));
  }
  EXPECT_EQ(cli("text " + shellQuoted(aqua)).out, "Welcome to Brooklyn\n");
  const auto found = cli("search Brooklin --limit 2");
  EXPECT_NE(found.out.find("Aqua.jpg\n      text: Welcome to Brooklyn\n"), std::string::npos)
      << found.out;
  const auto json = nlohmann::json::parse(cli("search brooklyn --json").out)["results"];
  EXPECT_EQ(json[0]["text"]["lines"][0]["box"][2], nlohmann::json::array({0.5, 0.75}));
  EXPECT_FALSE(json[1].contains("text"));
}

TEST_F(CliTest, PeopleAreFoundTogetherNamedSearchedAndForgotten) {
  addAndIndex();
  std::int64_t faceOfAnna = 0;
  {
    // Faces as the face stage stores them: Anna twice in Aqua and in the red half of the clip.
    Library stored(library, 1, "another", Library::Opening::keepFrames);
    const auto face = [](int person, int n) {
      std::vector<float> v(32, 0.02f * static_cast<float>(n % 5));
      v[person] = 1;
      float norm = 0;
      for (const float x : v) norm += x * x;
      for (float& x : v) x /= std::sqrt(norm);
      return FaceRecord{.quality = 1, .vector = halvesFromFloats(v)};
    };
    const std::map<std::string, std::vector<int>> who = {
        {"Aqua.jpg", {0, 0, 0}},   {"FreshFlower.jpg", {0, 1}}, {"Dune.jpg", {1}},
        {"copy-of-Dune.jpg", {1}}, {"GreenMeadow.jpg", {1}},    {"cut.mp4", {0}}};
    int n = 0;
    for (const auto& file : stored.allFiles()) {
      Library::StageRows rows{.stage = "faces"};
      for (const double t : stored.frameTimes(file.id)) {
        PictureFaces faces;
        if (file.kind == MediaKind::photo || t >= 4) {
          const auto at = who.find(std::filesystem::path(file.relPath).filename());
          ASSERT_NE(at, who.end()) << file.relPath;
          for (const int person : at->second) {
            faces.faces.push_back(face(person, ++n));
          }
        }
        rows.rows.push_back({.time = t, .data = faces.encoded()});
      }
      ASSERT_TRUE(stored.saveStage(file, rows));
    }
    for (const auto& face : stored.faces(false)) {
      if (stored.file(face.fileID)->relPath.ends_with("FreshFlower.jpg") && faceOfAnna == 0) {
        faceOfAnna = face.id;  // the first face of the photo with both: Anna's
      }
    }
  }
  EXPECT_EQ(cli("people").out.find("No people yet"), 0u);
  ASSERT_EQ(cli("people regroup").status, 0);
  auto listed = nlohmann::json::parse(cli("people --json").out);
  ASSERT_EQ(listed.size(), 2u);
  std::string anna = std::to_string(listed[0]["id"].get<int>());
  if (cli("people show " + anna).out.find("Aqua.jpg") == std::string::npos) {
    anna = std::to_string(listed[1]["id"].get<int>());
  }
  // Three faces of Anna in one photo: one is her, the others wait.
  EXPECT_EQ(cli("people show " + anna).out.find("Aqua.jpg"),
            cli("people show " + anna).out.rfind("Aqua.jpg"));
  EXPECT_EQ(cli("people name " + anna + " Anna").status, 0);
  listed = nlohmann::json::parse(cli("people --json").out);
  EXPECT_EQ(listed[0]["name"], "Anna");  // named first
  const std::string leo = std::to_string(listed[1]["id"].get<int>());
  EXPECT_EQ(cli("people name " + leo + " Leo").status, 0);

  const auto both =
      nlohmann::json::parse(cli("search green --person anna --person Leo --json").out);
  ASSERT_EQ(both["results"].size(), 1u);
  EXPECT_EQ(std::filesystem::path(both["results"][0]["path"].get<std::string>()).filename(),
            "FreshFlower.jpg");
  const auto inVideo = nlohmann::json::parse(cli("search red --person Anna --videos --json").out);
  ASSERT_EQ(inVideo["results"].size(), 1u);
  EXPECT_GE(inVideo["results"][0]["time"].get<double>(), 4);
  EXPECT_NE(cli("people show Anna").out.find("cut.mp4 00:00:0"), std::string::npos);
  const auto like = cli("similar --face " + std::to_string(faceOfAnna));
  EXPECT_NE(like.out.find("Aqua.jpg"), std::string::npos);
  EXPECT_EQ(like.out.find("Dune.jpg"), std::string::npos) << like.out;
  EXPECT_EQ(cli("search red --person Nobody").status, 1);

  EXPECT_EQ(cli("people forget").status, 1);  // asked, and no yes came
  EXPECT_EQ(nlohmann::json::parse(cli("people --json").out).size(), 2u);
  EXPECT_EQ(cli("people forget --yes").status, 0);
  EXPECT_TRUE(nlohmann::json::parse(cli("people --json").out).empty());
}

TEST_F(CliTest, ErrorsTellTheUserWhatToDo) {
  // A reading command never creates the library: a mistyped QUILLMERE_LIBRARY is reported.
  for (const auto* reader : {"status", "folders", "failed", "search red", "duplicates"}) {
    const auto missing = cli(reader);
    EXPECT_EQ(missing.status, 1) << reader;
    EXPECT_NE(missing.err.find("There is no library at "), std::string::npos) << missing.err;
  }
  EXPECT_FALSE(std::filesystem::exists(library.parent_path()));

  auto outcome = cli("add " + shellQuoted(media->path() / "photos/Aqua.jpg"));
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("Not a folder: "), std::string::npos) << outcome.err;

  outcome = cli("add " + shellQuoted(home->path() / "nowhere"));
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("Folder not found: "), std::string::npos) << outcome.err;

  outcome = cli("status", (home->path() / "no-model").string());
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("QUILLMERE_MODEL_DIR"), std::string::npos) << outcome.err;

  outcome = cli("remove " + folder("photos"));
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("not found in the library"), std::string::npos);

  outcome = cli("search");
  EXPECT_EQ(outcome.status, 2);
  outcome = cli("search red --limit zero");
  EXPECT_EQ(outcome.status, 2);
  outcome = cli("frobnicate");
  EXPECT_EQ(outcome.status, 2);
  EXPECT_NE(outcome.err.find("unknown command"), std::string::npos);

  std::filesystem::create_directories(library.parent_path());
  std::ofstream(library) << std::string(4096, 'x');
  outcome = cli("status");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("Cannot open the library"), std::string::npos) << outcome.err;
}

TEST_F(CliTest, SecondWriterIsRefusedWhileOneHoldsTheLibraryAndReadersGoOn) {
  ASSERT_EQ(cli("add " + folder("photos")).status, 0);
  ASSERT_EQ(cli("index").status, 0);
  // A writer holds the lock (as index --watch or the app would).
  const auto lockFile = library.string() + ".lock";
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    const int fd = open(lockFile.c_str(), O_RDWR);
    if (fd < 0 || flock(fd, LOCK_EX) != 0) _exit(1);
    pause();
    _exit(0);
  }
  for (int i = 0; i < 100; ++i) {
    const int probe = open(lockFile.c_str(), O_RDWR);
    const bool held = flock(probe, LOCK_SH | LOCK_NB) != 0;
    close(probe);
    if (held) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const auto writer = cli("add " + folder("videos"));
  const auto indexer = cli("index");
  const auto reader = cli("status --json");
  const auto search = cli("search green --json");
  stop(holder, SIGTERM);
  EXPECT_EQ(writer.status, 1);
  EXPECT_NE(writer.err.find("in use by another Quillmere process"), std::string::npos)
      << writer.err;
  EXPECT_EQ(indexer.status, 1);
  ASSERT_EQ(reader.status, 0) << reader.err;
  EXPECT_EQ(nlohmann::json::parse(reader.out)["indexed"], 5);
  ASSERT_EQ(search.status, 0) << search.err;
  EXPECT_EQ(nlohmann::json::parse(search.out)["results"].size(), 5u);
  // Free again: the folder goes in.
  EXPECT_EQ(cli("add " + folder("videos")).status, 0);
}

TEST_F(CliTest, ReadersWorkBesideARunningWatcher) {
  const auto folder = home->path() / "incoming";
  const auto log = home->path() / "watch.txt";
  const pid_t child = startWatching(folder, log);
  ASSERT_GT(child, 0);
  for (int i = 0; i < 600 && slurp(log).find("Up to date") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const auto search = cli("search blue --json");
  const auto status = cli("status");
  stop(child, SIGINT);
  ASSERT_EQ(search.status, 0) << search.err << slurp(log);
  ASSERT_EQ(nlohmann::json::parse(search.out)["results"].size(), 1u);
  EXPECT_EQ(status.status, 0) << status.err;
  EXPECT_NE(status.out.find("Files: 1 (1 photo, 0 videos)"), std::string::npos) << status.out;
}

TEST_F(CliTest, AnotherModelChangesNothingUntilIndexRuns) {
  addAndIndex();
  // The demo model under another name: another signature, the same vector width.
  const auto other = home->path() / "OtherModel";
  std::filesystem::create_directories(other);
  for (const auto* name : {"ImageEncoder.onnx", "TextEncoder.onnx", "tokenizer.bin"}) {
    std::filesystem::create_symlink(std::filesystem::path(modelDirectory()) / name, other / name);
  }
  auto info = nlohmann::json::parse(slurp(std::filesystem::path(modelDirectory()) / "model.json"));
  const std::string original = info["hf"].get<std::string>() + "@224";
  info["hf"] = "another-model";
  std::ofstream(other / "model.json") << info.dump();

  const auto status = cli("status --json", other.string());
  ASSERT_EQ(status.status, 0) << status.err;
  const auto totals = nlohmann::json::parse(status.out);
  EXPECT_EQ(totals["indexed"], 6);
  EXPECT_EQ(totals.value("model", ""), "another-model@224");
  EXPECT_EQ(totals.value("library_model", ""), original);
  EXPECT_FALSE(totals.value("model_matches", true));
  EXPECT_NE(status.err.find("indexed with the model " + original), std::string::npos);
  EXPECT_EQ(cli("folders", other.string()).status, 0);
  EXPECT_EQ(cli("failed", other.string()).status, 0);
  EXPECT_EQ(cli("retry", other.string()).status, 0);
  for (const std::string& reader :
       {std::string("search red"), "similar " + folder("photos") + "/Dune.jpg",
        std::string("duplicates"), "export red -o " + shellQuoted(home->path() / "x.csv")}) {
    const auto refused = cli(reader, other.string());
    EXPECT_EQ(refused.status, 1) << reader;
    EXPECT_NE(refused.err.find("but the model set is another-model@224"), std::string::npos)
        << refused.err;
  }
  // The library is as it was for its own model.
  auto same = nlohmann::json::parse(cli("status --json").out);
  EXPECT_EQ(same["indexed"], 6);
  EXPECT_TRUE(same.value("model_matches", false));
  EXPECT_GT(same["frames"].get<int>(), 5);

  // Indexing adopts the new model, and says so first.
  const auto indexed = cli("index", other.string());
  ASSERT_EQ(indexed.status, 0) << indexed.err;
  EXPECT_EQ(indexed.out.rfind("The library was indexed with the model " + original, 0), 0u)
      << indexed.out;
  EXPECT_NE(indexed.out.find("Every file will be indexed again."), std::string::npos);
  const auto adopted = nlohmann::json::parse(cli("status --json", other.string()).out);
  EXPECT_TRUE(adopted.value("model_matches", false));
  EXPECT_EQ(adopted["indexed"], 6);
}

// Decodes the percent-encoding of a file URL's path.
std::string pathOfFileURL(const std::string& url) {
  EXPECT_EQ(url.rfind("file://", 0), 0u) << url;
  std::string path;
  for (std::size_t i = 7; i < url.size(); ++i) {
    if (url[i] == '%' && i + 2 < url.size()) {
      path += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      path += url[i];
    }
  }
  return path;
}

TEST_F(CliTest, PathsThatAreNotUtf8ComeBackExactlyFromJson) {
  const auto folder = home->path() / "bytes";
  std::filesystem::create_directories(folder);
  const auto odd = folder / std::string("caf\xe9 \xff.jpg");
  std::filesystem::copy_file(media->path() / "photos/Dune.jpg", odd);
  std::filesystem::copy_file(media->path() / "photos/Dune.jpg", folder / "plain.jpg");
  ASSERT_EQ(cli("add " + shellQuoted(folder)).status, 0);
  ASSERT_EQ(cli("index").status, 0);

  const auto found = nlohmann::json::parse(cli("search sand --json").out);
  ASSERT_EQ(found["results"].size(), 2u);
  std::set<std::string> paths;
  for (const auto& result : found["results"]) {
    const auto shown = result["path"].get<std::string>();
    if (result.contains("path_url")) {
      EXPECT_NE(shown.find("\xEF\xBF\xBD"), std::string::npos);  // U+FFFD for display
      paths.insert(pathOfFileURL(result["path_url"]));
    } else {
      paths.insert(shown);
    }
  }
  EXPECT_EQ(paths, (std::set<std::string>{odd.string(), (folder / "plain.jpg").string()}));

  const auto groups = nlohmann::json::parse(cli("duplicates --json").out);
  ASSERT_EQ(groups["groups"].size(), 1u);
  int exact = 0;
  for (const auto& file : groups["groups"][0]["files"]) {
    if (file.contains("path_url")) exact += pathOfFileURL(file["path_url"]) == odd.string();
  }
  EXPECT_EQ(exact, 1);
}

TEST_F(CliTest, TokenizeArgumentsAndStandardInputAgree) {
  const auto args = cli("tokenize 'red car' blue");
  ASSERT_EQ(args.status, 0) << args.err;
  const auto input = home->path() / "queries.txt";
  std::ofstream(input) << "red car\nblue\n";
  const auto command = environment(modelDirectory()) + shellQuoted(binary()) + " tokenize <" +
                       shellQuoted(input) + " >" + shellQuoted(home->path() / "t.txt");
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(slurp(home->path() / "t.txt"), args.out);
  std::istringstream lines(args.out);
  std::string first, second;
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_FALSE(first.empty());
  EXPECT_FALSE(second.empty());
  EXPECT_NE(first, second);
}

// No QUILLMERE_MODEL_DIR: the model comes from the user's choice or is the built-in one.
TEST_F(CliTest, ImportedModelIsChosenIndexesAndSearches) {
  const auto data = home->path() / "share";
  const auto run = [&](const std::string& args) { return asUser(args); };
  EXPECT_NE(run("model").out.find("Found: the built-in demo model"), std::string::npos);

  const std::string source =
      std::string(QUILLMERE_PUBLISHED_MODELS_DIR) + "/immich/ViT-B-16-SigLIP2__webli";
  const auto imported = run("model import " + shellQuoted(source));
  ASSERT_EQ(imported.status, 0) << imported.err;
  const auto installed = data / "Quillmere/Models/ViT-B-16-SigLIP2__webli";
  EXPECT_TRUE(std::filesystem::exists(installed / "model.json"));
  const auto again = run("model import " + shellQuoted(source));
  EXPECT_NE(again.status, 0);
  EXPECT_NE(again.err.find("already exists"), std::string::npos) << again.err;
  // A relative destination is taken from where the command runs, and named in full.
  const auto relative = run("model import " + shellQuoted(source) + " mine");
  ASSERT_EQ(relative.status, 0) << relative.err;
  EXPECT_TRUE(std::filesystem::exists(home->path() / "mine" / "model.json"));
  EXPECT_NE(relative.out.find("model use " + (home->path() / "mine").string() + "'"),
            std::string::npos)
      << relative.out;

  const auto unknown = run("model use NoSuchModel");
  EXPECT_NE(unknown.status, 0);
  EXPECT_NE(unknown.err.find("model.json is missing"), std::string::npos) << unknown.err;
  ASSERT_EQ(run("model use ViT-B-16-SigLIP2__webli").status, 0);
  const auto shown = run("model");
  EXPECT_NE(shown.out.find("Model: ViT-B-16-SigLIP2__webli@32"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("Found: chosen with 'quillmere-cli model use'"), std::string::npos);
  EXPECT_NE(shown.out.find("Vectors: 8 components"), std::string::npos);

  ASSERT_EQ(run("add " + folder("photos") + " " + folder("videos")).status, 0);
  const auto indexed = run("index");
  ASSERT_EQ(indexed.status, 0) << indexed.err;
  const auto status = nlohmann::json::parse(run("status --json").out);
  // The imported model's signature ends in a digest of its weights.
  EXPECT_TRUE(status["model"].get<std::string>().starts_with("ViT-B-16-SigLIP2__webli@32#"))
      << status["model"];
  EXPECT_EQ(status["model_matches"], true);
  const auto found = run("search 'dog running on the beach' --json --limit 3");
  ASSERT_EQ(found.status, 0) << found.err;
  const auto results = nlohmann::json::parse(found.out)["results"];
  EXPECT_EQ(results.size(), 3u) << found.out;
  // Its probabilities are calibrated: a least probability keeps the moments above it.
  const double second = results.at(1)["probability"].get<double>();
  const auto likely = nlohmann::json::parse(
      run("search 'dog running on the beach' --json --limit 3 --min-probability " +
          std::to_string(second * 100 - 1e-4) + "%")
          .out);
  EXPECT_EQ(likely["likely_matches"], 2) << likely;
  EXPECT_EQ(likely["results"].size(), 2u);

  ASSERT_EQ(run("model use default").status, 0);
  EXPECT_NE(run("model").out.find("Found: the built-in demo model"), std::string::npos);
}

// Ctrl-C and SIGTERM stop an import of float16 encoders (96 MB of table here) while it
// widens or compiles them: the command says so, and no temporary folder is left.
TEST_F(CliTest, AnInterruptedModelImportLeavesNothingBehind) {
  const auto source = home->path() / "export";
  std::filesystem::copy(
      std::string(QUILLMERE_PUBLISHED_MODELS_DIR) + "/optimum/siglip2-base-patch16", source,
      std::filesystem::copy_options::recursive);
  writeHalfTextGraph(source / "onnx/text_model_fp16.onnx",
                     "'input_ids', 7, 'batch_size', ['pooler_output']", 6'000'000);
  const auto models = home->path() / "models";
  std::filesystem::create_directories(models);
  for (const int signal : {SIGINT, SIGTERM}) {
    const auto log = home->path() / "import.txt";
    const pid_t child = start(
        "model import " + shellQuoted(source) + " " + shellQuoted(models / "h") + " --variant fp16",
        log);
    // Once the temporary folder is there, the encoders are being widened.
    for (int i = 0; i < 4000 && std::filesystem::is_empty(models); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_FALSE(std::filesystem::is_empty(models)) << slurp(log);
    EXPECT_EQ(stop(child, signal), 130) << signal << ": " << slurp(log);
    EXPECT_NE(slurp(log).find(source.string() + " was not imported"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(models));
  }
}

TEST_F(CliTest, DownloadedModelIsChosenAndSearches) {
  const auto hubRoot = home->path() / "hub";
  const std::filesystem::path published = QUILLMERE_PUBLISHED_MODELS_DIR;
  for (const auto& [repository, source] :
       {std::pair{"immich-app/ViT-B-16-SigLIP2__webli", "immich/ViT-B-16-SigLIP2__webli"},
        std::pair{"onnx-community/siglip2-base-patch16", "optimum/siglip2-base-patch16"},
        // A stand-in with the quantised files the listed export publishes.
        std::pair{"Xenova/clip-vit-base-patch32", "optimum/siglip2-base-patch16"}}) {
    std::filesystem::create_directories((hubRoot / repository).parent_path());
    std::filesystem::create_directory_symlink(published / source, hubRoot / repository);
  }
  HubServer hub(hubRoot);
  const auto run = [&](const std::string& args, const std::string& endpoint = "") {
    return asUser(args, "HF_ENDPOINT=" + (endpoint.empty() ? hub.endpoint() : endpoint));
  };
  const auto models = home->path() / "share/Quillmere/Models";
  EXPECT_NE(run("model list --available").out.find("siglip2-b16 "), std::string::npos);
  const auto unknown = run("model download no-such-model");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("clip-b32-openai"), std::string::npos) << unknown.err;
  const auto unreachable = run("model download siglip2-b16 --use", "http://127.0.0.1:9");
  EXPECT_EQ(unreachable.status, 1);
  EXPECT_NE(unreachable.err.find("Can't reach 127.0.0.1:9"), std::string::npos) << unreachable.err;
  EXPECT_FALSE(std::filesystem::exists(models / "ViT-B-16-SigLIP2__webli"));
  EXPECT_NE(run("model").out.find("Found: the built-in demo model"), std::string::npos);
  EXPECT_NE(run("model download siglip2-b16", "127.0.0.1:9").err.find("is refused"),
            std::string::npos);
  // A broken transfer is listed with what it holds, until it is discarded.
  std::ofstream(hubRoot / "immich-app/ViT-B-16-SigLIP2__webli.fault") << "drop";
  EXPECT_NE(run("model download siglip2-b16").err.find("broke off"), std::string::npos);
  const auto partly = run("model list").out;
  EXPECT_NE(partly.find("Partly downloaded: immich-app/ViT-B-16-SigLIP2__webli, "),
            std::string::npos)
      << partly;
  const auto staged = models / ".downloads/immich-app/ViT-B-16-SigLIP2__webli";
  ASSERT_TRUE(std::filesystem::exists(staged));
  EXPECT_EQ(run("model discard siglip2-b16").status, 0);
  EXPECT_FALSE(std::filesystem::exists(staged));
  EXPECT_EQ(run("model discard siglip2-b16").status, 1);
  std::filesystem::remove(hubRoot / "immich-app/ViT-B-16-SigLIP2__webli.fault");

  const auto optimum = run("model download onnx-community/siglip2-base-patch16");
  ASSERT_EQ(optimum.status, 0) << optimum.err;
  EXPECT_TRUE(std::filesystem::exists(models / "siglip2-base-patch16/model.json"));
  const auto variant =
      run("model download onnx-community/siglip2-base-patch16 --variant quantized");
  ASSERT_EQ(variant.status, 0) << variant.err;
  EXPECT_TRUE(std::filesystem::exists(models / "siglip2-base-patch16_quantized/model.json"));
  const auto half = run("model download onnx-community/siglip2-base-patch16 --variant fp16");
  ASSERT_EQ(half.status, 0) << half.err;
  EXPECT_NE(half.err.find("widened to float32"), std::string::npos) << half.err;
  // A listed variant is a model of its own, named by its id alone; an int8 one's speed-up is
  // another processor's, so none is printed.
  const auto available = run("model list --available").out;
  const auto line = available.substr(available.find("clip-b32-xenova-quantized "));
  EXPECT_GT(line.find("x the full model's speed"), line.find('\n')) << available;
  EXPECT_EQ(run("model download clip-b32-xenova-quantized --variant fp16").status, 2);
  const auto listed = run("model download clip-b32-xenova-quantized");
  ASSERT_EQ(listed.status, 0) << listed.err;
  EXPECT_TRUE(std::filesystem::exists(models / "clip-vit-base-patch32_quantized/model.json"));
  const auto none = run("model download siglip2-b16 --variant quantized");
  EXPECT_NE(none.err.find("publishes no ONNX variants"), std::string::npos) << none.err;
  const auto chosen = run("model download siglip2-b16 --use");
  ASSERT_EQ(chosen.status, 0) << chosen.err;
  EXPECT_NE(chosen.out.find("The search model is now ViT-B-16-SigLIP2__webli@32#"),
            std::string::npos)
      << chosen.out;
  ASSERT_EQ(run("model use default").status, 0);
  ASSERT_EQ(run("model use siglip2-b16").status, 0);  // the list's id names it too
  EXPECT_NE(run("model list").out.find("ViT-B-16-SigLIP2__webli  (in use)"), std::string::npos);
  ASSERT_EQ(run("add " + folder("photos")).status, 0);
  ASSERT_EQ(run("index").status, 0);
  const auto found = run("search 'dog running on the beach' --json --limit 3");
  ASSERT_EQ(found.status, 0) << found.err;
  EXPECT_EQ(nlohmann::json::parse(found.out)["results"].size(), 3u) << found.out;
}

}  // namespace
}  // namespace quillmere::test
