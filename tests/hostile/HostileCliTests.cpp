// SPDX-License-Identifier: GPL-3.0-or-later
// quillmere-cli over the hostile folder: every command ends with its documented status and
// every printed path stands on one line, escaped so that it reads back to the file's bytes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "HostileFolder.h"
#include "core/Utf8.h"
#include "support/MediaFactory.h"
#include "support/TempDirectory.h"

namespace quillmere::test {
namespace {
namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> all;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) all.push_back(line);
  return all;
}

// Reads back the CLI's escapes: \\ \n \t \r \xNN.
std::string unescaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    if (next == 'n') {
      out += '\n';
    } else if (next == 't') {
      out += '\t';
    } else if (next == 'r') {
      out += '\r';
    } else if (next == 'x' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += next;
    }
  }
  return out;
}

bool isRegularFile(const fs::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

class HostileCli : public ::testing::Test {
 protected:
  void SetUp() override {
    home = std::make_unique<TempDirectory>();
    // Open to another user too, for the run that checks permission bits as one.
    fs::permissions(home->path(), fs::perms::all);
    for (const auto* dir : {"home", "data"}) {
      fs::create_directories(home->path() / dir);
      fs::permissions(home->path() / dir, fs::perms::all);
    }
    library = home->path() / "data" / "Library.sqlite";
  }

  // Runs the CLI with its output in files (so any byte survives), as `user` when given.
  Outcome cli(const std::string& args, const std::string& user = "") const {
    const auto out = home->path() / "out.txt";
    const auto err = home->path() / "err.txt";
    const std::string model = (fs::path(QUILLMERE_RESOURCES_DIR) / "Model").string();
    const std::string command = "env HOME=" + shellQuoted(home->path() / "home") +
                                " QUILLMERE_LIBRARY=" + shellQuoted(library) +
                                " QUILLMERE_MODEL_DIR=" + shellQuoted(model) + " " + user +
                                shellQuoted(QUILLMERE_CLI) + " " + args + " >" + shellQuoted(out) +
                                " 2>" + shellQuoted(err) + " </dev/null";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
  }

  // Each line of a text search: score, probability, path and, for a video, a time code.
  void expectEveryLineAFile(const Outcome& outcome, std::size_t expected) {
    const auto all = lines(outcome.out);
    EXPECT_EQ(all.size(), expected) << outcome.out;
    for (const auto& text : all) {
      EXPECT_TRUE(Utf8::isValid(text)) << text;
      const auto percent = text.find("%  ");
      ASSERT_NE(percent, std::string::npos) << text;
      const std::string where = text.substr(percent + 3 + 12);  // past "YYYY-MM-DD  " taken
      const std::string path = unescaped(where);
      if (isRegularFile(path)) continue;
      // A video: the path, a space and HH:MM:SS.
      const auto space = where.rfind(' ');
      ASSERT_NE(space, std::string::npos) << text;
      EXPECT_EQ(where.size() - space, 9u) << text;
      EXPECT_TRUE(isRegularFile(unescaped(where.substr(0, space)))) << text;
    }
  }

  std::unique_ptr<TempDirectory> home;
  fs::path library;
};

TEST_F(HostileCli, EveryCommandEndsCleanlyAndPrintsEachPathOnOneLine) {
  HostileFolder folder(home->path() / "-my \"root\"\n\xe9", home->path() / "outside");
  const std::string root = shellQuoted(folder.root());

  const auto added = cli("add " + root);
  ASSERT_EQ(added.status, 0) << added.err;
  const auto indexed = cli("index");
  ASSERT_EQ(indexed.status, 0) << indexed.err;
  EXPECT_NE(indexed.out.find("0 pending"), std::string::npos) << indexed.out;
  for (const auto& text : lines(indexed.out)) EXPECT_TRUE(Utf8::isValid(text)) << text;

  const auto status = cli("status --json");
  ASSERT_EQ(status.status, 0) << status.err;
  const auto totals = nlohmann::json::parse(status.out);
  EXPECT_EQ(totals["pending"], 0);
  EXPECT_GE(totals["failed"].get<int>(), static_cast<int>(folder.unreadableContent().size()));
  EXPECT_GE(totals["indexed"].get<int>(), static_cast<int>(folder.readable().size()));
  const auto plain = cli("status");
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(lines(plain.out).size(), 6u) << plain.out;

  // As many lines as results, each naming an existing file through the escapes.
  const auto json = cli("search red --limit 100 --json");
  ASSERT_EQ(json.status, 0) << json.err;
  const auto results = nlohmann::json::parse(json.out)["results"];
  ASSERT_FALSE(results.empty());
  const auto text = cli("search red --limit 100");
  ASSERT_EQ(text.status, 0) << text.err;
  expectEveryLineAFile(text, results.size());
  EXPECT_NE(text.out.find("red\\nphoto \"&<>\".jpg"), std::string::npos) << text.out;

  // By example, through a path with a newline and one that is not UTF-8; a text that
  // starts with a dash after "--".
  const auto byLine = cli("similar " + shellQuoted(folder.root() / "line\nbreak.jpg"));
  ASSERT_EQ(byLine.status, 0) << byLine.err;
  expectEveryLineAFile(byLine, 20);
  EXPECT_NE(byLine.out.find("line\\nbreak.jpg"), std::string::npos) << byLine.out;
  const auto byLatin = cli("similar " + shellQuoted(folder.examplePhoto()));
  ASSERT_EQ(byLatin.status, 0) << byLatin.err;
  // Found at the top score, which a file holding the same picture shares.
  const auto latinLines = lines(byLatin.out);
  ASSERT_FALSE(latinLines.empty());
  const std::string topScore = latinLines.front().substr(0, latinLines.front().find(' '));
  EXPECT_TRUE(std::any_of(latinLines.begin(), latinLines.end(), [&](const std::string& line) {
    return line.starts_with(topScore + " ") && line.find("caf\\xe9.jpg") != std::string::npos;
  })) << byLatin.out;
  const auto dashed = cli("search -- -rf --help");
  EXPECT_EQ(dashed.status, 0) << dashed.err;
  expectEveryLineAFile(dashed, 20);

  // Exports to names that need quoting; the documents parse.
  const auto out = home->path() / "out dir\n'x'";
  fs::create_directories(out);
  const auto xml = out / "red \"night\".fcpxml";
  const auto table = out / "red \"night\".csv";
  const auto fcp = cli("export red -o " + shellQuoted(xml));
  ASSERT_EQ(fcp.status, 0) << fcp.err;
  EXPECT_EQ(lines(fcp.out).size(), 1u) << fcp.out;
  const auto csv = cli("export red -o " + shellQuoted(table));
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(std::system(("xmllint --noout " + shellQuoted(xml)).c_str()), 0);
  EXPECT_TRUE(Utf8::isValid(slurp(xml)));
  EXPECT_TRUE(Utf8::isValid(slurp(table)));
  const auto read = readBackExports(xml, table);
  ASSERT_TRUE(read);
  const auto back = nlohmann::json::parse(*read);
  EXPECT_FALSE(back["fcpxml"]["clips"].empty());
  ASSERT_GE(back["csv"].size(), 2u);
  for (std::size_t i = 1; i < back["csv"].size(); ++i) EXPECT_EQ(back["csv"][i].size(), 4u);

  // One line per failed file, each naming it.
  const auto failed = cli("failed");
  ASSERT_EQ(failed.status, 0) << failed.err;
  const auto failures = lines(failed.out);
  EXPECT_EQ(failures.size(), totals["failed"].get<std::size_t>()) << failed.out;
  for (const auto& line : failures) {
    const auto colon = line.find(": ");
    ASSERT_NE(colon, std::string::npos) << line;
    EXPECT_TRUE(isRegularFile(unescaped(line.substr(0, colon)))) << line;
    EXPECT_GT(line.size(), colon + 2) << line;
  }
  const auto folders = cli("folders");
  EXPECT_EQ(folders.status, 0) << folders.err;
  EXPECT_EQ(lines(folders.out).size(), 2u) << folders.out;
}

// Permission bits hold for anyone but root: as root, the run is made as the user nobody
// over a folder that user owns.
TEST_F(HostileCli, LockedEntriesFailOrStayUnseenForAUserWithoutAccess) {
  std::string user;
  if (::geteuid() == 0) {
    if (std::system("command -v setpriv >/dev/null") != 0) GTEST_SKIP() << "no setpriv";
    user = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  }
  const auto root = home->path() / "locked";
  fs::create_directories(root);
  const auto& photos = BaseMedia::shared().photos;
  fs::copy_file(photos[0], root / "open.jpg");
  fs::copy_file(photos[1], root / "locked.jpg");
  for (const auto* dir : {"locked dir", "exec-only dir"}) {
    fs::create_directories(root / dir);
    fs::copy_file(photos[2], root / dir / "inside.jpg");
  }
  if (::geteuid() == 0) runCommand("chown -R 65534:65534 " + shellQuoted(root));
  fs::permissions(root / "locked.jpg", fs::perms::none);
  fs::permissions(root / "locked dir", fs::perms::none);
  fs::permissions(root / "exec-only dir", fs::perms::owner_write | fs::perms::owner_exec);

  ASSERT_EQ(cli("add " + shellQuoted(root), user).status, 0);
  const auto indexed = cli("index", user);
  ASSERT_EQ(indexed.status, 0) << indexed.err;
  const auto totals = nlohmann::json::parse(cli("status --json", user).out);
  EXPECT_EQ(totals["files"], 2);  // nothing from the two closed directories
  EXPECT_EQ(totals["indexed"], 1);
  EXPECT_EQ(totals["failed"], 1);
  const auto failed = cli("failed", user);
  EXPECT_EQ(failed.out, (root / "locked.jpg").string() + ": This file can't be read.\n");

  // Opened, the two directories are indexed; closed again, or with the folder itself
  // closed, their files stay with their frames: what can't be read is not gone.
  fs::permissions(root / "locked dir", fs::perms::owner_all);
  fs::permissions(root / "exec-only dir", fs::perms::owner_all);
  ASSERT_EQ(cli("index", user).status, 0);
  const auto opened = nlohmann::json::parse(cli("status --json", user).out);
  ASSERT_EQ(opened["files"], 4);
  ASSERT_EQ(opened["indexed"], 3);
  const auto listed = cli("failed", user).out;
  for (const auto& [path, mode] : std::vector<std::pair<fs::path, fs::perms>>{
           {root / "locked dir", fs::perms::none},
           {root / "exec-only dir", fs::perms::owner_write | fs::perms::owner_exec},
           {root, fs::perms::none}}) {
    SCOPED_TRACE(path);
    fs::permissions(path, mode);
    const auto again = cli("index", user);
    fs::permissions(path, fs::perms::owner_all);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("Can't read " + path.string() + ": what was stored from it is kept."),
              std::string::npos)
        << again.out;
    EXPECT_EQ(nlohmann::json::parse(cli("status --json", user).out), opened);
    EXPECT_EQ(cli("failed", user).out, listed);
  }
}

}  // namespace
}  // namespace quillmere::test
