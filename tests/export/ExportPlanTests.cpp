// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "export/ExportPlan.h"

namespace quillmere {
namespace {

using Item = ExportPlan::Item;

std::vector<Item> videos(int count) {
  std::vector<Item> items;
  for (int i = 0; i < count; ++i) {
    items.push_back(
        {MediaKind::video, "/v/clip" + std::to_string(i) + ".mp4", i + 0.5, 1.0f - i / 1000.0f});
  }
  return items;
}

TEST(ExportPlan, KeepsReachableVideosInResultOrderWithTheirOpeningTimes) {
  const ExportPlan plan("red car", {{MediaKind::photo, "/p/a.jpg", 0, 0.9f},
                                    {MediaKind::video, "/v/b.mp4", 12.7, 0.8f},
                                    {MediaKind::video, std::nullopt, 3, 0.7f},
                                    {MediaKind::video, "/v/a.mp4", 1.25, 0.6f}});
  ASSERT_FALSE(plan.empty());
  EXPECT_EQ(plan.rows(),
            (std::vector<MarkerExport::Row>{{"/v/b.mp4", 12.7, 0.8f}, {"/v/a.mp4", 1.25, 0.6f}}));
  EXPECT_EQ(plan.moments(),
            (std::vector<MarkerExport::Moment>{{"/v/b.mp4", 12.7, 5.0, "red car"},
                                               {"/v/a.mp4", 1.25, 5.0, "red car"}}));
  EXPECT_EQ(plan.title(), "Quillmere \u2013 red car");
}

TEST(ExportPlan, AHundredMomentsButEveryRow) {
  const ExportPlan plan("sunset", videos(250));
  EXPECT_EQ(plan.moments().size(), 100u);
  EXPECT_EQ(plan.rows().size(), 250u);
  EXPECT_EQ(plan.moments().back().path, "/v/clip99.mp4");
  EXPECT_EQ(plan.document(ExportPlan::Format::csv).count, 250u);
}

TEST(ExportPlan, NothingToExportWithoutAReachableVideo) {
  EXPECT_TRUE(ExportPlan("x", {}).empty());
  EXPECT_TRUE(ExportPlan("x", {{MediaKind::photo, "/p/a.jpg", 0, 1},
                               {MediaKind::video, std::nullopt, 0, 1}})
                  .empty());
}

TEST(ExportPlan, FileNamesFormatsAndNotices) {
  EXPECT_EQ(ExportPlan("cats/dogs", {}).suggestedFileName(), "Quillmere \u2013 cats-dogs.fcpxml");
  EXPECT_EQ(ExportPlan("cats/dogs", {}).title(), "Quillmere \u2013 cats/dogs");
  struct Case {
    const char* file;
    ExportPlan::Format format;
  };
  for (const auto& c :
       {Case{"a.csv", ExportPlan::Format::csv}, Case{"/x/A.CSV", ExportPlan::Format::csv},
        Case{"b.Csv", ExportPlan::Format::csv}, Case{"c.fcpxml", ExportPlan::Format::fcpxml},
        Case{"csv", ExportPlan::Format::fcpxml}, Case{"d.csv.xml", ExportPlan::Format::fcpxml}}) {
    EXPECT_EQ(ExportPlan::format(c.file), c.format) << c.file;
  }
}

}  // namespace
}  // namespace quillmere
