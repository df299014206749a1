// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "core/PictureText.h"
#include "search/SearchFixture.h"

namespace quillmere {
namespace {

using test::Shot;

class TextSearch : public test::SearchTest {
 protected:
  // Stores the file's frames and the text read at each shot's time (one line per text).
  MediaFile withText(const std::string& name, MediaKind kind, const std::vector<Shot>& shots,
                     const std::vector<std::vector<std::string>>& texts) {
    const MediaFile file = storedFile(name, kind, shots);
    Library::StageRows rows{.stage = std::string(Library::textStage)};
    for (std::size_t i = 0; i < texts.size(); ++i) {
      PictureText text;
      for (const auto& line : texts[i]) text.lines.push_back({.text = line, .confidence = 0.9f});
      rows.rows.push_back({.time = shots[i].time, .data = text.encoded()});
    }
    EXPECT_TRUE(library->saveStage(file, rows));
    return file;
  }
  void SetUp() override {
    test::SearchTest::SetUp();
    withText("sign.jpg", MediaKind::photo, {{0, 0.1f}}, {{"PLATFORM7DEPARTURES"}});
    withText("plate.jpg", MediaKind::photo, {{0, 0.1f}}, {{"Parking", "RE16 XYZ"}});
    withText("bridge.jpg", MediaKind::photo, {{0, 0.1f}}, {{"Welcome to Brooklyn"}});
    withText("cake.jpg", MediaKind::photo, {{0, 0.12f}}, {{"Happy Birthday"}});
    withText("road.mp4", MediaKind::video, {{0, 0.2f}, {20, 0.15f}}, {{"Crème"}, {"EXIT 25 ->"}});
    storedFile("plain.jpg", MediaKind::photo, {{0, 0.25f}});
  }
  std::vector<SearchResult> find(const std::string& query) {
    return engine->search(axis(), query, {}, 10).results;
  }
};

TEST_F(TextSearch, WordsFoundWholePartlyOrWithASlipComeFirstAndTheScoreOrdersTheRest) {
  struct Row {
    std::string query;
    std::string first;
    double time = 0;
    std::vector<std::string> lines;  // found in the first result
  };
  const Row table[] = {
      {"Brooklin", "bridge.jpg", 0, {"Welcome to Brooklyn"}},
      {"birthdy party", "cake.jpg", 0, {"Happy Birthday"}},
      {"re16", "plate.jpg", 0, {"RE16 XYZ"}},
      {"platform 7 departures", "sign.jpg", 0, {"PLATFORM7DEPARTURES"}},
      {"CREME", "road.mp4", 0, {"Crème"}},
      {"\"exit 25\"", "road.mp4", 20, {"EXIT 25 ->"}},
      {"beach + \"Parking\"", "plate.jpg", 0, {"Parking"}},
      {"\"exit 52\"", "plain.jpg", 0, {}},       // a phrase admits no slip
      {"brookxxn", "plain.jpg", 0, {}},          // two slips in eight letters are too many
      {"to", "plain.jpg", 0, {}},                // too short to look for
      {"beach - brooklyn", "plain.jpg", 0, {}},  // taken away: not looked for
  };
  for (const Row& row : table) {
    const auto results = find(row.query);
    ASSERT_GE(results.size(), 2u) << row.query;
    EXPECT_EQ(results[0].file.name(), row.first) << row.query;
    EXPECT_EQ(results[0].time, row.time) << row.query;
    std::vector<std::string> lines;
    for (const TextLine& line : results[0].foundText.lines) lines.push_back(line.text);
    EXPECT_EQ(lines, row.lines) << row.query;
    if (row.lines.empty()) continue;
    EXPECT_EQ(results[1].file.name(), "plain.jpg") << row.query << ": then by meaning";
    EXPECT_FALSE(results[1].foundByText());
  }
  // Only the frame holding the words is lifted; a slip counts half.
  EXPECT_EQ(find("\"exit 25\"")[0].foundText.share, 1.0f);
  EXPECT_EQ(find("Brooklin")[0].foundText.share, 0.5f);
  EXPECT_EQ(find("photo").size(), 7u) << "one moment per photo, two of the video";
}

TEST_F(TextSearch, TextStaysWithItsFileMovedAndGoesWhenItIsEditedOrRemoved) {
  const auto holding = [&](const std::string& folded) {
    return library->linesHolding(std::span(&folded, 1), 10).size();
  };
  const MediaFile bridge = *library->file(find("brooklyn")[0].file.id);
  ScannedFile entry{.relPath = "b/bridge.jpg", .size = bridge.size, .mtime = bridge.mtime};
  EXPECT_EQ(library->applyScan(bridge.rootID, {entry}).moved, 1);
  EXPECT_EQ(holding("brooklyn"), 1u);
  entry.mtime += 5;
  EXPECT_EQ(library->applyScan(bridge.rootID, {entry}).changed, 1);
  EXPECT_EQ(holding("brooklyn"), 0u);
  // Read again, a damaged row beside: its lines are replaced, never doubled.
  const MediaFile cake = *library->file(find("birthday")[0].file.id);
  const Bytes line = PictureText{{{.text = "Birthday"}}}.encoded();
  EXPECT_TRUE(library->saveStage(cake, {.stage = "text", .rows = {{0, line}, {1, {0xde, 0xad}}}}));
  EXPECT_EQ(holding("birthday"), 1u);
  EXPECT_EQ(library->applyScan(cake.rootID, {}).removed, 1);
  EXPECT_EQ(holding("birthday"), 0u);
  library->removeRoot(find("\"exit 25\"")[0].file.rootID);
  EXPECT_EQ(holding("exit25"), 0u);
  library->db().exec("INSERT INTO text_search(text_search, rank) VALUES('integrity-check', 1)");
}

}  // namespace
}  // namespace quillmere
