// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <fstream>

#include "LibraryFixture.h"
#include "core/Float16.h"
#include "index/FolderRules.h"
#include "search/MoreLikeThis.h"

namespace quillmere::test {
namespace {

Root rootAt(std::int64_t id, const std::string& path) {
  return Root{.id = id, .path = path};
}

TEST(FolderRulesPlan, DecidesFromStandardisedPaths) {
  const std::vector<Root> roots = {rootAt(1, "/m/Photos"), rootAt(2, "/m/Videos/2024"),
                                   rootAt(3, "/m/Videos/2025/"), rootAt(4, "/")};
  struct Case {
    std::vector<Root> roots;
    std::string path;
    std::string standardised;
    bool alreadyIncluded;
    std::vector<std::int64_t> nested;
  };
  const std::vector<Case> cases = {
      {{roots[0]}, "/m/Photos", "/m/Photos", true, {}},
      {{roots[0]}, "/m/Photos/", "/m/Photos", true, {}},
      {{roots[0]}, "/m/Photos/./trip/../", "/m/Photos", true, {}},
      {{roots[0]}, "/m/Photos/trip", "/m/Photos/trip", true, {}},
      {{roots[0]}, "/m/Photos 2", "/m/Photos 2", false, {}},
      {{roots[0]}, "/m/Photo", "/m/Photo", false, {}},
      {{roots[0], roots[1], roots[2]}, "/m/Videos", "/m/Videos", false, {2, 3}},
      {{roots[0], roots[1], roots[2]}, "/m", "/m", false, {1, 2, 3}},
      {{roots[0], roots[1], roots[2]}, "/m/Videos/2025/a", "/m/Videos/2025/a", true, {}},
      {{roots[3]}, "/anything", "/anything", true, {}},
      {{roots[0]}, "/", "/", false, {1}},
      {{}, "//m//Photos//", "/m/Photos", false, {}},
  };
  for (const auto& c : cases) {
    const auto plan = FolderRules::plan(c.roots, c.path);
    std::vector<std::int64_t> nested;
    for (const auto& root : plan.nested) nested.push_back(root.id);
    EXPECT_EQ(plan.path, c.standardised) << c.path;
    EXPECT_EQ(plan.alreadyIncluded, c.alreadyIncluded) << c.path;
    EXPECT_EQ(nested, c.nested) << c.path;
  }
}

TEST(FolderRulesPlan, RelativePathsBecomeAbsolute) {
  const auto plan = FolderRules::plan({}, "some/folder/..");
  EXPECT_EQ(plan.path, (std::filesystem::current_path() / "some").string());
}

class FolderRulesTest : public LibraryTest {
 protected:
  std::filesystem::path makeFolder(const std::string& relative) {
    const auto path = dir / relative;
    std::filesystem::create_directories(path);
    return path;
  }
};

TEST_F(FolderRulesTest, AParentReplacesTheFoldersNestedInItWithTheirFiles) {
  auto library = open();
  const auto inner = makeFolder("r/a");
  const auto sibling = makeFolder("r 2");
  const auto root = addRootWithFiles(*library, inner.string(), {photo("x.jpg", 10, 1)});
  addRootWithFiles(*library, sibling.string(), {photo("y.jpg", 10, 1)});

  const auto result = FolderRules::add(*library, dir / "r" / "");
  ASSERT_EQ(result.outcome, FolderRules::Outcome::added) << result.detail;
  ASSERT_EQ(result.replaced.size(), 1u);
  EXPECT_EQ(result.replaced.front().id, root.id);
  EXPECT_EQ(result.root->path, (dir / "r").string());

  std::vector<std::string> paths;
  for (const auto& folder : library->roots()) paths.push_back(folder.path);
  EXPECT_EQ(paths, (std::vector<std::string>{sibling.string(), (dir / "r").string()}));
  EXPECT_TRUE(library->files(root.id).empty());
  EXPECT_EQ(countRows(*library, "files"), 1);  // only the sibling's; x.jpg comes back by a scan

  // Adding the inner folder again now changes nothing.
  const auto again = FolderRules::add(*library, inner);
  EXPECT_EQ(again.outcome, FolderRules::Outcome::alreadyIncluded);
  EXPECT_EQ(library->roots().size(), 2u);
}

TEST_F(FolderRulesTest, OnlyExistingDirectoriesAreAdded) {
  auto library = open();
  std::ofstream(dir / "photo.jpg") << "not a folder";
  const auto file = FolderRules::add(*library, dir / "photo.jpg");
  EXPECT_EQ(file.outcome, FolderRules::Outcome::failed);
  EXPECT_EQ(file.problem, FolderRules::Problem::notAFolder);
  EXPECT_EQ(file.path, (dir / "photo.jpg").string());
  const auto missing = FolderRules::add(*library, dir / "gone");
  EXPECT_EQ(missing.outcome, FolderRules::Outcome::failed);
  EXPECT_EQ(missing.problem, FolderRules::Problem::notFound);
  EXPECT_EQ(missing.path, (dir / "gone").string());
  EXPECT_TRUE(library->roots().empty());
}

TEST_F(FolderRulesTest, TheVolumeNameIsKeptOnlyForAnExternalDrive) {
  auto library = open();
  const FolderRules::Volume internal{.uuid = "u1", .name = "Disk", .external = false};
  const FolderRules::Volume external{.uuid = "u2", .name = "Stick", .external = true};
  const auto a = FolderRules::add(*library, makeFolder("a"), internal);
  const auto b = FolderRules::add(*library, makeFolder("b"), external);
  ASSERT_TRUE(a.root && b.root);
  EXPECT_EQ(a.root->volumeUUID, "u1");
  EXPECT_EQ(a.root->volumeName, std::nullopt);
  EXPECT_FALSE(a.root->isRemovable);
  EXPECT_EQ(b.root->volumeName, "Stick");
  EXPECT_TRUE(b.root->isRemovable);
}

TEST_F(FolderRulesTest, StoredFileIsFoundThroughTheRootHoldingThePath) {
  auto library = open();
  const auto photos = makeFolder("Photos");
  const auto root = addRootWithFiles(*library, photos.string(),
                                     {photo("trip/beach.jpg", 10, 1), video("c.mp4", 20, 1)});
  addRootWithFiles(*library, makeFolder("Photos 2").string(), {photo("beach.jpg", 10, 1)});

  const auto beach = FolderRules::storedFile(*library, photos / "trip" / ".." / "trip/beach.jpg");
  ASSERT_TRUE(beach);
  EXPECT_EQ(beach->rootID, root.id);
  EXPECT_EQ(beach->relPath, "trip/beach.jpg");
  EXPECT_FALSE(FolderRules::storedFile(*library, photos / "beach.jpg"));
  EXPECT_FALSE(FolderRules::storedFile(*library, photos));
  EXPECT_FALSE(FolderRules::storedFile(*library, dir / "Photos 2x" / "beach.jpg"));
}

TEST_F(FolderRulesTest, MoreLikeThisTakesTheStoredFrameAndNamesTheMoment) {
  auto library = open();
  const auto root = addRootWithFiles(*library, makeFolder("v").string(),
                                     {video("clip.mov", 20, 1), photo("p.jpg", 10, 1)});
  const auto clip = fileAt(*library, root.id, "clip.mov");
  library->saveFrames(clip, {testFrame(dim, 1, 0.0), testFrame(dim, 2, 65.0)}, 70, 64, 48);
  const auto frames = library->vectors().vectors(clip.id);
  ASSERT_EQ(frames.size(), 2u);

  const auto second = MoreLikeThis::frame(*library, clip, frames[1].first.frameID, 65.4);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->name, "clip.mov at 1:05");
  EXPECT_EQ(second->vector, floatsFromHalves(testVector(dim, 2)));
  EXPECT_FALSE(MoreLikeThis::frame(*library, clip, frames[1].first.frameID + 100, 65));

  const auto nearest = MoreLikeThis::nearest(*library, clip, 40);
  ASSERT_TRUE(nearest);
  EXPECT_EQ(nearest->name, "clip.mov at 1:05");
  EXPECT_EQ(nearest->vector, floatsFromHalves(testVector(dim, 2)));
  EXPECT_FALSE(MoreLikeThis::nearest(*library, fileAt(*library, root.id, "p.jpg"), 0));
  EXPECT_EQ(MoreLikeThis::name(fileAt(*library, root.id, "p.jpg"), 65), "p.jpg");
}

}  // namespace
}  // namespace quillmere::test
