// SPDX-License-Identifier: GPL-3.0-or-later
#include "Words.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

TEST(WordsTest, ExportResults) {
  EXPECT_EQ(Words::exported(1, "a.csv"), "Exported 1 moment to a.csv.");
  EXPECT_EQ(Words::exported(2, "a.csv"), "Exported 2 moments to a.csv.");
  EXPECT_EQ(Words::couldNotSave("Permission denied"),
            "Couldn't save the export: Permission denied");
}

TEST(WordsTest, RefusalsOfTheEngine) {
  EXPECT_EQ(Words::query(QueryTerms::Failure::weightOutOfRange("1e39")),
            "The weight 1e39 cannot be used: a term's weight lies between 1.2e-38 and 3.4e+38.");
  FolderRules::AddResult gone{.problem = FolderRules::Problem::notFound, .path = "/a b"};
  EXPECT_EQ(Words::folderProblem(gone), "Folder not found: /a b");
  EXPECT_EQ(Words::pictureQuery(MoreLikeThis::Unreadable("/x.jpg")),
            "/x.jpg could not be read as a photo or a video.");
}

}  // namespace
}  // namespace quillmere
