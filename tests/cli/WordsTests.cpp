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

}  // namespace
}  // namespace quillmere
